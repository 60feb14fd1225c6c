// The service publisher on the Avahi daemon: one entry group holding one service. Avahi calls
// back on its own thread with the poll's lock held; calls from other threads take the lock.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <map>
#include <string>

#include "foundation/Log.h"
#include "platform/discovery/AvahiClientThread.h"
#include "platform/discovery/AvahiDiscovery.h"

namespace quenbril {

namespace {

class AvahiPublisher final : public ServicePublisher {
  public:
    ~AvahiPublisher() override { closeClient(); }

    bool publish(const std::string& name, const std::string& type, uint16_t port) override;
    void setTXTRecord(const std::map<std::string, std::string>& record) override;
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

    AvahiClientThread avahi_;
    AvahiEntryGroup* group_ = nullptr;
    bool published_ = false;
    std::string name_;
    std::string type_;
    uint16_t port_ = 0;
    std::map<std::string, std::string> txt_;
};

bool AvahiPublisher::openClient() {
    // A client the daemon dropped is made anew, and its entry group goes with it.
    if (avahi_.isOpen() && !avahi_.isHealthy()) closeClient();
    int code = 0;
    switch (avahi_.open(&AvahiPublisher::clientCallback, this, &code)) {
        case AvahiClientThread::Failure::None:
            return true;
        case AvahiClientThread::Failure::Thread:
            log(LogLevel::Warning, "Cannot publish: the discovery thread did not start");
            return false;
        case AvahiClientThread::Failure::Daemon:
            log(LogLevel::Warning, "Cannot publish: no Avahi daemon (%s)", avahi_strerror(code));
            return false;
    }
    return false;
}

void AvahiPublisher::closeClient() {
    if (!avahi_.isOpen()) return;
    // Freeing the client frees its entry groups.
    avahi_.close();
    group_ = nullptr;
    published_ = false;
}

bool AvahiPublisher::publish(const std::string& name, const std::string& type, uint16_t port) {
    if (!openClient()) return false;
    avahi_.lock();
    name_ = name;
    // An empty name stands for the machine's, as the daemon announces it.
    if (name_.empty()) {
        const char* host = avahi_client_get_host_name(avahi_.client());
        name_ = host ? host : "Quenbril";
    }
    type_ = avahiServiceType(type);
    port_ = port;
    published_ = true;
    bool ok = addService();
    if (!ok) published_ = false;
    avahi_.unlock();
    return ok;
}

void AvahiPublisher::setTXTRecord(const std::map<std::string, std::string>& record) {
    const bool open = avahi_.isOpen();
    if (open) avahi_.lock();
    txt_ = record;
    if (open && published_ && !addService()) published_ = false;
    if (open) avahi_.unlock();
}

void AvahiPublisher::unpublish() {
    if (!avahi_.isOpen()) return;
    avahi_.lock();
    published_ = false;
    if (group_) avahi_entry_group_reset(group_);
    avahi_.unlock();
}

bool AvahiPublisher::addService() {
    if (!group_) {
        group_ = avahi_entry_group_new(avahi_.client(), &AvahiPublisher::groupCallback, this);
        if (!group_) {
            log(LogLevel::Warning, "Cannot publish %s: %s", name_.c_str(),
                avahi_strerror(avahi_client_errno(avahi_.client())));
            return false;
        }
    }
    avahi_entry_group_reset(group_);
    int code = 0;
    // A name this daemon already announces collides at once; one another host holds collides
    // later, in groupCallback. Either way the daemon's alternative name is taken.
    for (int attempt = 0; attempt < 100; ++attempt) {
        AvahiStringList* txt = nullptr;
        for (const auto& [key, value] : txt_) {
            txt = avahi_string_list_add_pair(txt, key.c_str(), value.c_str());
        }
        code = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                    AvahiPublishFlags(0), name_.c_str(),
                                                    type_.c_str(), nullptr, nullptr, port_, txt);
        avahi_string_list_free(txt);
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
            if (self->avahi_.client() && self->published_ && self->group_ &&
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
            self->avahi_.markFailed();
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
                avahi_strerror(avahi_client_errno(self->avahi_.client())));
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
