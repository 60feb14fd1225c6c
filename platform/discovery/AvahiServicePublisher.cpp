// The service publisher on the Avahi daemon: one entry group holding one service. Avahi calls
// back on its own thread with the poll's lock held; calls from other threads take the lock.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <string>

#include "foundation/Log.h"
#include "platform/discovery/AvahiDiscovery.h"

namespace quenbril {

namespace {

std::string avahiType(const std::string& type) {
    if (!type.empty() && type.back() == '.') return type.substr(0, type.size() - 1);
    return type;
}

class AvahiPublisher final : public ServicePublisher {
  public:
    ~AvahiPublisher() override { closeClient(); }

    bool publish(const std::string& name, const std::string& type, uint16_t port) override;
    void unpublish() override;

  private:
    bool openClient();
    void closeClient();
    /// Lock held: (re)adds the service to the group and commits it. False on an error.
    bool addService();
    /// Lock held: moves name_ on to the daemon's next alternative ("Desk" -> "Desk #2").
    void takeAlternativeName();

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata);
    static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata);

    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    // Guarded by the poll's lock once the poll runs.
    bool clientFailed_ = false;
    AvahiEntryGroup* group_ = nullptr;
    bool published_ = false;
    std::string name_;
    std::string type_;
    uint16_t port_ = 0;
};

bool AvahiPublisher::openClient() {
    if (client_) {
        // The flag is set on the Avahi thread when the daemon goes away.
        avahi_threaded_poll_lock(poll_);
        bool failed = clientFailed_;
        avahi_threaded_poll_unlock(poll_);
        if (!failed) return true;
    }
    closeClient();
    poll_ = avahi_threaded_poll_new();
    if (!poll_) return false;
    int code = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0),
                               &AvahiPublisher::clientCallback, this, &code);
    if (!client_) {
        log(LogLevel::Warning, "Cannot publish: no Avahi daemon (%s)", avahi_strerror(code));
        closeClient();
        return false;
    }
    clientFailed_ = false;
    if (avahi_threaded_poll_start(poll_) < 0) {
        log(LogLevel::Warning, "Cannot publish: the discovery thread did not start");
        closeClient();
        return false;
    }
    return true;
}

void AvahiPublisher::closeClient() {
    if (!poll_) return;
    avahi_threaded_poll_stop(poll_);
    // Freeing the client frees its entry groups.
    if (client_) avahi_client_free(client_);
    client_ = nullptr;
    group_ = nullptr;
    published_ = false;
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
    clientFailed_ = false;
}

bool AvahiPublisher::publish(const std::string& name, const std::string& type, uint16_t port) {
    if (!openClient()) return false;
    avahi_threaded_poll_lock(poll_);
    name_ = name;
    type_ = avahiType(type);
    port_ = port;
    published_ = true;
    bool ok = addService();
    if (!ok) published_ = false;
    avahi_threaded_poll_unlock(poll_);
    return ok;
}

void AvahiPublisher::unpublish() {
    if (!poll_) return;
    avahi_threaded_poll_lock(poll_);
    published_ = false;
    if (group_) avahi_entry_group_reset(group_);
    avahi_threaded_poll_unlock(poll_);
}

bool AvahiPublisher::addService() {
    if (!group_) {
        group_ = avahi_entry_group_new(client_, &AvahiPublisher::groupCallback, this);
        if (!group_) {
            log(LogLevel::Warning, "Cannot publish %s: %s", name_.c_str(),
                avahi_strerror(avahi_client_errno(client_)));
            return false;
        }
    }
    avahi_entry_group_reset(group_);
    int code = 0;
    // A name this daemon already announces collides at once; one another host holds collides
    // later, in groupCallback. Either way the daemon's alternative name is taken.
    for (int attempt = 0; attempt < 100; ++attempt) {
        code = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                             AvahiPublishFlags(0), name_.c_str(), type_.c_str(),
                                             nullptr, nullptr, port_, nullptr);
        if (code != AVAHI_ERR_COLLISION) break;
        takeAlternativeName();
    }
    if (code >= 0) code = avahi_entry_group_commit(group_);
    if (code < 0) {
        log(LogLevel::Warning, "Cannot publish %s (%s): %s", name_.c_str(), type_.c_str(),
            avahi_strerror(code));
        avahi_entry_group_reset(group_);
        return false;
    }
    QLOG("Publishing %s (%s) on port %u", name_.c_str(), type_.c_str(), unsigned{port_});
    return true;
}

void AvahiPublisher::takeAlternativeName() {
    char* alternative = avahi_alternative_service_name(name_.c_str());
    QLOG("Service name %s is taken; publishing as %s", name_.c_str(), alternative);
    name_ = alternative;
    avahi_free(alternative);
}

void AvahiPublisher::clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
    auto* self = static_cast<AvahiPublisher*>(userdata);
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            // After a host-name change the daemon dropped our records: announce them again.
            if (self->client_ && self->published_ && self->group_ &&
                avahi_entry_group_is_empty(self->group_)) {
                self->addService();
            }
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            if (self->group_) avahi_entry_group_reset(self->group_);
            break;
        case AVAHI_CLIENT_FAILURE:
            log(LogLevel::Warning, "Publishing stopped: %s",
                avahi_strerror(avahi_client_errno(client)));
            self->clientFailed_ = true;
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
    }
}

void AvahiPublisher::groupCallback(AvahiEntryGroup* /*group*/, AvahiEntryGroupState state,
                                   void* userdata) {
    auto* self = static_cast<AvahiPublisher*>(userdata);
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            QLOG("Published %s (%s)", self->name_.c_str(), self->type_.c_str());
            break;
        case AVAHI_ENTRY_GROUP_COLLISION: {
            // Another host holds the name: go on under the daemon's next free alternative.
            self->takeAlternativeName();
            self->addService();
            break;
        }
        case AVAHI_ENTRY_GROUP_FAILURE:
            log(LogLevel::Warning, "Publishing %s failed: %s", self->name_.c_str(),
                avahi_strerror(avahi_client_errno(self->client_)));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
    }
}

}  // namespace

std::unique_ptr<ServicePublisher> makeAvahiServicePublisher() {
    return std::make_unique<AvahiPublisher>();
}

}  // namespace quenbril
