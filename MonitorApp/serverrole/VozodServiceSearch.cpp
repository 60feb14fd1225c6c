#include "MonitorApp/serverrole/VozodServiceSearch.h"

#include "foundation/Log.h"
#include "platform/discovery/AvahiDiscovery.h"

namespace quenbril {

VozodServiceSearch::VozodServiceSearch(BrowserFactory makeBrowser)
    : makeBrowser_(std::move(makeBrowser)) {
    if (!makeBrowser_) makeBrowser_ = [] { return makeAvahiServiceBrowser(); };
}

VozodServiceSearch::~VozodServiceSearch() {
    if (browser_) browser_->stop();
}

void VozodServiceSearch::searchForDevices(const std::string& type) {
    if (!browser_) {
        browser_ = makeBrowser_();
        netServices_.clear();
        resolvedServices_.clear();
    }
    if (!browser_) return;
    if (searching_) {
        browser_->stop();
        searching_ = false;
        QLOG("DidStopSearch");
    }
    browser_->browse(type, this);
    browser_->browseRegistrationDomains();
    searching_ = true;
}

void VozodServiceSearch::domainFound(const std::string& /*domain*/) { QLOG("jee"); }

void VozodServiceSearch::browseFailed(const Error& error) {
    QLOG("DidNotSearch: %s", error.description.c_str());
}

void VozodServiceSearch::serviceFound(const std::string& name) {
    QLOG("DidFindService: %s", name.c_str());
    netServices_.insert(name);
    browser_->resolve(name);
}

void VozodServiceSearch::serviceRemoved(const std::string& name) {
    QLOG("DidRemoveService: %s", name.c_str());
}

void VozodServiceSearch::resolveFailed(const std::string& /*name*/, const Error& /*error*/) {
    QLOG("DidNotResolve");
}

void VozodServiceSearch::serviceResolved(const ResolvedService& service) {
    QLOG("DidResolve: (%s) %s", describeAddresses(service.addresses).c_str(),
         service.hostName.c_str());
    netServices_.erase(service.name);
    resolvedServices_[service.name] = service;
    for (const auto& [name, resolved] : resolvedServices_) {
        for (const Bytes& address : resolved.addresses) {
            QLOG("Service name: %s , ip: %s , port %i", name.c_str(),
                 socketAddressHost(address).c_str(), resolved.port);
        }
    }
}

}  // namespace quenbril
