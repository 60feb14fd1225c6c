#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/discovery/ServiceBrowser.h"

namespace quenbril {

/// The Vozod driver's service search: finds the services of one type, resolves each once
/// (within ServiceBrowser::kResolveTimeout) and logs where they are. Nothing connects to what
/// it finds. Main thread only.
class VozodServiceSearch : public ServiceBrowser::Delegate {
  public:
    using BrowserFactory = std::function<std::unique_ptr<ServiceBrowser>()>;

    /// `makeBrowser` makes the browser at the first search (the Avahi one when empty).
    explicit VozodServiceSearch(BrowserFactory makeBrowser = {});
    ~VozodServiceSearch() override;
    VozodServiceSearch(const VozodServiceSearch&) = delete;
    VozodServiceSearch& operator=(const VozodServiceSearch&) = delete;

    /// Stops a running search and starts one for the services of `type` ("_name._tcp.") and
    /// for the registration domains.
    void searchForDevices(const std::string& type);

    /// False until the first search.
    bool hasBrowser() const { return browser_ != nullptr; }
    /// Services found and waiting for their addresses.
    const std::set<std::string>& netServices() const { return netServices_; }
    /// Services whose addresses were resolved, by name.
    const std::map<std::string, ResolvedService>& resolvedServices() const {
        return resolvedServices_;
    }

    void domainFound(const std::string& domain) override;
    void browseFailed(const Error& error) override;
    void serviceFound(const std::string& name) override;
    void serviceRemoved(const std::string& name) override;
    void serviceResolved(const ResolvedService& service) override;
    void resolveFailed(const std::string& name, const Error& error) override;

  private:
    BrowserFactory makeBrowser_;
    std::unique_ptr<ServiceBrowser> browser_;
    bool searching_ = false;
    std::set<std::string> netServices_;
    std::map<std::string, ResolvedService> resolvedServices_;
};

}  // namespace quenbril
