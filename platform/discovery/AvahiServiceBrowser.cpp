// The service browser on the Avahi daemon. Avahi calls back on its own thread (the threaded
// poll), with the poll's lock held; every call from the main thread into Avahi takes that lock.
// What the delegate must hear is posted to the main queue and checked there against the
// browser's current search, so that nothing from a stopped search or a destroyed browser
// arrives.

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "foundation/Log.h"
#include "foundation/dispatch/Queue.h"
#include "platform/discovery/AvahiClientThread.h"
#include "platform/discovery/AvahiDiscovery.h"

namespace quenbril {

namespace {

Error avahiError(int code, const std::string& what) {
    return Error::make(ServiceBrowser::kErrorDomain, code, what + ": " + avahi_strerror(code));
}

class AvahiBrowser final : public ServiceBrowser {
  public:
    AvahiBrowser() : shared_(std::make_shared<Shared>()) {}
    ~AvahiBrowser() override {
        // stop() frees every Avahi object of ours; closing then frees the client.
        stop();
        avahi_.close();
    }

    void browse(const std::string& type, Delegate* delegate) override;
    void resolve(const std::string& name) override;
    void stop() override;
    void browseRegistrationDomains() override;

  private:
    /// Main-thread state the posted results are checked against.
    struct Shared {
        Delegate* delegate = nullptr;
        uint64_t generation = 0;
    };
    /// One announcement of a service: a name may be announced on several interfaces and over
    /// both protocols.
    struct Instance {
        AvahiIfIndex interface;
        AvahiProtocol protocol;
        std::string domain;
        bool operator==(const Instance&) const = default;
    };
    struct Resolution {
        AvahiBrowser* owner = nullptr;
        std::string name;
        std::vector<AvahiServiceResolver*> resolvers;
        AvahiTimeout* timeout = nullptr;
        ResolvedService result;
        std::optional<Error> lastError;
    };

    bool openClient(Error* error);
    void finishResolution(Resolution* resolution);
    void dropResolution(Resolution* resolution);
    /// Poll thread (lock held) or main thread: runs `fn` with the delegate on the main queue,
    /// if the search of `generation` is still the current one by then.
    void post(std::function<void(Delegate&)> fn);

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata);
    static void browseCallback(::AvahiServiceBrowser* browser, AvahiIfIndex interface,
                               AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                               const char* type, const char* domain, AvahiLookupResultFlags flags,
                               void* userdata);
    static void resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                                AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                                const char* type, const char* domain, const char* hostName,
                                const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                AvahiLookupResultFlags flags, void* userdata);
    static void timeoutCallback(AvahiTimeout* timeout, void* userdata);
    static void domainCallback(AvahiDomainBrowser* browser, AvahiIfIndex interface,
                               AvahiProtocol protocol, AvahiBrowserEvent event, const char* domain,
                               AvahiLookupResultFlags flags, void* userdata);

    std::shared_ptr<Shared> shared_;
    AvahiClientThread avahi_;
    uint64_t generation_ = 0;
    std::string type_;
    ::AvahiServiceBrowser* browser_ = nullptr;
    AvahiDomainBrowser* domainBrowser_ = nullptr;
    /// Domains the current search reported (several interfaces announce the same one).
    std::set<std::string> domains_;
    /// The current search has reported its first batch (Avahi may say "all for now" again).
    bool firstBatchReported_ = false;
    std::map<std::string, std::vector<Instance>> instances_;
    std::map<std::string, std::unique_ptr<Resolution>> resolutions_;
};

void AvahiBrowser::post(std::function<void(Delegate&)> fn) {
    std::weak_ptr<Shared> weak = shared_;
    uint64_t generation = generation_;
    dispatch::Queue::main()->async([weak, generation, fn = std::move(fn)] {
        auto shared = weak.lock();
        if (!shared || shared->generation != generation || !shared->delegate) return;
        fn(*shared->delegate);
    });
}

bool AvahiBrowser::openClient(Error* error) {
    int code = 0;
    switch (avahi_.open(&AvahiBrowser::clientCallback, this, &code)) {
        case AvahiClientThread::Failure::None:
            return true;
        case AvahiClientThread::Failure::Thread:
            *error = avahiError(code, "Could not start the discovery thread");
            return false;
        case AvahiClientThread::Failure::Daemon:
            *error = avahiError(code, "Could not reach the Avahi daemon");
            return false;
    }
    return false;
}

void AvahiBrowser::browse(const std::string& type, Delegate* delegate) {
    stop();
    shared_->delegate = delegate;
    Error error;
    if (!openClient(&error)) {
        QLOG("Service discovery: %s", error.description.c_str());
        post([error](Delegate& d) { d.browseFailed(error); });
        return;
    }
    avahi_.lock();
    type_ = avahiServiceType(type);
    firstBatchReported_ = false;
    browser_ = avahi_service_browser_new(avahi_.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                         type_.c_str(), nullptr, AvahiLookupFlags(0),
                                         &AvahiBrowser::browseCallback, this);
    if (!browser_) {
        error = avahiError(avahi_client_errno(avahi_.client()), "Could not browse for " + type);
        QLOG("Service discovery: %s", error.description.c_str());
        post([error](Delegate& d) { d.browseFailed(error); });
    }
    avahi_.unlock();
}

void AvahiBrowser::resolve(const std::string& name) {
    if (!avahi_.isOpen() || !browser_) {
        Error error = avahiError(AVAHI_ERR_BAD_STATE, "No search is running to resolve " + name);
        post([name, error](Delegate& d) { d.resolveFailed(name, error); });
        return;
    }
    avahi_.lock();
    if (auto it = resolutions_.find(name); it != resolutions_.end())
        dropResolution(it->second.get());
    auto found = instances_.find(name);
    if (found == instances_.end()) {
        Error error = avahiError(AVAHI_ERR_NOT_FOUND, "No service named " + name);
        post([name, error](Delegate& d) { d.resolveFailed(name, error); });
        avahi_.unlock();
        return;
    }
    auto resolution = std::make_unique<Resolution>();
    resolution->owner = this;
    resolution->name = name;
    resolution->result.name = name;
    for (const Instance& instance : found->second) {
        // Ask for the address family the announcement came over: one address per interface and
        // family.
        auto* resolver = avahi_service_resolver_new(
            avahi_.client(), instance.interface, instance.protocol, name.c_str(), type_.c_str(),
            instance.domain.c_str(), instance.protocol, AvahiLookupFlags(0),
            &AvahiBrowser::resolveCallback, resolution.get());
        if (resolver) {
            resolution->resolvers.push_back(resolver);
        } else {
            resolution->lastError =
                avahiError(avahi_client_errno(avahi_.client()), "Could not resolve " + name);
        }
    }
    Resolution* raw = resolution.get();
    resolutions_[name] = std::move(resolution);
    if (raw->resolvers.empty()) {
        finishResolution(raw);
    } else {
        timeval when{};
        avahi_elapse_time(&when, static_cast<unsigned>(kResolveTimeout * 1000), 0);
        raw->timeout =
            avahi_.api()->timeout_new(avahi_.api(), &when, &AvahiBrowser::timeoutCallback, raw);
    }
    avahi_.unlock();
}

void AvahiBrowser::stop() {
    ++shared_->generation;
    shared_->delegate = nullptr;
    if (!avahi_.isOpen()) {
        ++generation_;
        return;
    }
    avahi_.lock();
    ++generation_;
    while (!resolutions_.empty()) dropResolution(resolutions_.begin()->second.get());
    if (browser_) avahi_service_browser_free(browser_);
    browser_ = nullptr;
    if (domainBrowser_) avahi_domain_browser_free(domainBrowser_);
    domainBrowser_ = nullptr;
    domains_.clear();
    instances_.clear();
    avahi_.unlock();
}

void AvahiBrowser::browseRegistrationDomains() {
    if (!avahi_.isOpen() || !browser_ || domainBrowser_) return;
    avahi_.lock();
    domainBrowser_ = avahi_domain_browser_new(
        avahi_.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, nullptr,
        AVAHI_DOMAIN_BROWSER_REGISTER, AvahiLookupFlags(0), &AvahiBrowser::domainCallback, this);
    if (!domainBrowser_) {
        QLOG("Service discovery: no search for registration domains: %s",
             avahi_strerror(avahi_client_errno(avahi_.client())));
    }
    avahi_.unlock();
}

void AvahiBrowser::domainCallback(AvahiDomainBrowser* /*browser*/, AvahiIfIndex /*interface*/,
                                  AvahiProtocol /*protocol*/, AvahiBrowserEvent event,
                                  const char* domain, AvahiLookupResultFlags /*flags*/,
                                  void* userdata) {
    auto* self = static_cast<AvahiBrowser*>(userdata);
    if (event != AVAHI_BROWSER_NEW || !domain) return;
    std::string name = domain;
    if (!self->domains_.insert(name).second) return;
    self->post([name](Delegate& d) { d.domainFound(name); });
}

// Lock held. Frees the resolution's Avahi objects and forgets it.
void AvahiBrowser::dropResolution(Resolution* resolution) {
    for (auto* resolver : resolution->resolvers) avahi_service_resolver_free(resolver);
    resolution->resolvers.clear();
    if (resolution->timeout) avahi_.api()->timeout_free(resolution->timeout);
    resolution->timeout = nullptr;
    std::string name = resolution->name;  // the key must outlive the erase
    resolutions_.erase(name);
}

// Lock held. Reports what the resolution found (or that it found nothing) and drops it.
void AvahiBrowser::finishResolution(Resolution* resolution) {
    ResolvedService result = resolution->result;
    if (!result.addresses.empty()) {
        post([result](Delegate& d) { d.serviceResolved(result); });
    } else {
        Error error = resolution->lastError.value_or(
            avahiError(AVAHI_ERR_TIMEOUT, "No address for " + resolution->name));
        std::string name = resolution->name;
        post([name, error](Delegate& d) { d.resolveFailed(name, error); });
    }
    dropResolution(resolution);
}

void AvahiBrowser::clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
    auto* self = static_cast<AvahiBrowser*>(userdata);
    if (state != AVAHI_CLIENT_FAILURE) return;
    // The daemon went away (or refused us). The next browse() opens a new client.
    self->avahi_.markFailed();
    Error error = avahiError(avahi_client_errno(client), "Lost the Avahi daemon");
    QLOG("Service discovery: %s", error.description.c_str());
    if (self->avahi_.client()) self->post([error](Delegate& d) { d.browseFailed(error); });
}

void AvahiBrowser::browseCallback(::AvahiServiceBrowser* /*browser*/, AvahiIfIndex interface,
                                  AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                                  const char* /*type*/, const char* domain,
                                  AvahiLookupResultFlags /*flags*/, void* userdata) {
    auto* self = static_cast<AvahiBrowser*>(userdata);
    switch (event) {
        case AVAHI_BROWSER_NEW: {
            std::string serviceName = name ? name : "";
            auto& list = self->instances_[serviceName];
            Instance instance{interface, protocol, domain ? domain : ""};
            bool first = list.empty();
            if (std::find(list.begin(), list.end(), instance) == list.end()) {
                list.push_back(instance);
            }
            if (first) self->post([serviceName](Delegate& d) { d.serviceFound(serviceName); });
            break;
        }
        case AVAHI_BROWSER_REMOVE: {
            std::string serviceName = name ? name : "";
            auto it = self->instances_.find(serviceName);
            if (it == self->instances_.end()) break;
            Instance instance{interface, protocol, domain ? domain : ""};
            std::erase(it->second, instance);
            if (it->second.empty()) {
                self->instances_.erase(it);
                self->post([serviceName](Delegate& d) { d.serviceRemoved(serviceName); });
            }
            break;
        }
        case AVAHI_BROWSER_FAILURE: {
            Error error = avahiError(avahi_client_errno(self->avahi_.client()), "Browsing failed");
            QLOG("Service discovery: %s", error.description.c_str());
            self->post([error](Delegate& d) { d.browseFailed(error); });
            break;
        }
        case AVAHI_BROWSER_ALL_FOR_NOW:
            if (!self->firstBatchReported_) {
                self->firstBatchReported_ = true;
                self->post([](Delegate& d) { d.firstBatchComplete(); });
            }
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
    }
}

void AvahiBrowser::resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                                   AvahiProtocol /*protocol*/, AvahiResolverEvent event,
                                   const char* /*name*/, const char* /*type*/,
                                   const char* /*domain*/, const char* hostName,
                                   const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                   AvahiLookupResultFlags /*flags*/, void* userdata) {
    auto* resolution = static_cast<Resolution*>(userdata);
    AvahiBrowser* self = resolution->owner;
    if (event == AVAHI_RESOLVER_FOUND && address) {
        Bytes socketAddress;
        if (address->proto == AVAHI_PROTO_INET) {
            socketAddress = makeSocketAddress4(
                reinterpret_cast<const uint8_t*>(&address->data.ipv4.address), port);
        } else if (address->proto == AVAHI_PROTO_INET6) {
            socketAddress = makeSocketAddress6(address->data.ipv6.address, port,
                                               interface >= 0 ? uint32_t(interface) : 0);
        }
        auto& addresses = resolution->result.addresses;
        if (!socketAddress.empty() &&
            std::find(addresses.begin(), addresses.end(), socketAddress) == addresses.end()) {
            addresses.push_back(std::move(socketAddress));
        }
        if (resolution->result.hostName.empty() && hostName) resolution->result.hostName = hostName;
        if (resolution->result.port == 0) resolution->result.port = port;
        for (AvahiStringList* entry = txt; entry; entry = avahi_string_list_get_next(entry)) {
            const std::string text(reinterpret_cast<const char*>(avahi_string_list_get_text(entry)),
                                   avahi_string_list_get_size(entry));
            const size_t equals = text.find('=');
            resolution->result.txt.emplace(text.substr(0, equals), equals == std::string::npos
                                                                       ? std::string()
                                                                       : text.substr(equals + 1));
        }
    } else {
        resolution->lastError = avahiError(avahi_client_errno(self->avahi_.client()),
                                           "Could not resolve " + resolution->name);
    }
    // A resolver keeps watching after its first answer; one answer is all we take.
    std::erase(resolution->resolvers, resolver);
    avahi_service_resolver_free(resolver);
    if (resolution->resolvers.empty()) self->finishResolution(resolution);
}

void AvahiBrowser::timeoutCallback(AvahiTimeout* /*timeout*/, void* userdata) {
    auto* resolution = static_cast<Resolution*>(userdata);
    AvahiBrowser* self = resolution->owner;
    // The poll frees a fired timeout only when asked to; dropResolution does that.
    QLOG("Service discovery: resolving %s timed out", resolution->name.c_str());
    self->finishResolution(resolution);
}

}  // namespace

std::unique_ptr<ServiceBrowser> makeAvahiServiceBrowser() {
    return std::make_unique<AvahiBrowser>();
}

}  // namespace quenbril
