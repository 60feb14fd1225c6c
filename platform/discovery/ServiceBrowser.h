#pragma once

#include <memory>
#include <string>

#include "foundation/Error.h"
#include "platform/discovery/ResolvedService.h"

namespace quenbril {

/// Finds the services of one type on the local network and resolves them to addresses. The
/// Avahi backend implements it; tests use fakes.
///
/// Call on the main thread. Results reach the delegate on the main queue, never from inside the
/// call that asked for them; nothing reaches it after stop(), a new browse() (results of the
/// earlier one are dropped) or the browser's destruction.
class ServiceBrowser {
  public:
    static constexpr const char* kErrorDomain = "ServiceDiscoveryErrorDomain";
    /// Seconds a resolution may take before it is dropped.
    static constexpr double kResolveTimeout = 5.0;

    struct Delegate {
        virtual ~Delegate() = default;
        /// A service of the type was announced (once per name, however many interfaces carry it).
        virtual void serviceFound(const std::string& /*name*/) {}
        /// The search has reported every service it found when it started (once per search).
        /// The announcements of one service on several interfaces and families come in that
        /// batch, so a resolution started now covers all of them; later announcements still come
        /// as serviceFound.
        virtual void firstBatchComplete() {}
        /// A resolve() finished with at least one address.
        virtual void serviceResolved(const ResolvedService&) {}
        /// The last announcement of that name went away.
        virtual void serviceRemoved(const std::string& /*name*/) {}
        /// The search could not start or broke off (no daemon, an invalid type...).
        virtual void browseFailed(const Error&) {}
        /// A resolve() found no address within kResolveTimeout or failed.
        virtual void resolveFailed(const std::string& /*name*/, const Error&) {}
        /// A domain where services may be registered ("local"), once per domain and search,
        /// when the search looks for them (browseRegistrationDomains).
        virtual void domainFound(const std::string& /*domain*/) {}
    };

    virtual ~ServiceBrowser();

    /// Starts searching for `type` ("_quenbril._tcp.") in the default domain, replacing any
    /// earlier search. `delegate` is not owned and must outlive the search (or stop() it).
    virtual void browse(const std::string& type, Delegate* delegate) = 0;
    /// Resolves the service `name` found by the current search; the answer comes once, as
    /// serviceResolved or resolveFailed.
    virtual void resolve(const std::string& name) = 0;
    /// Ends the search and every resolution; the delegate hears nothing more.
    virtual void stop() = 0;
    /// Adds to the current search one for the domains where services may be registered,
    /// reported as domainFound; it ends with the search. A backend without it reports none.
    virtual void browseRegistrationDomains() {}
};

}  // namespace quenbril
