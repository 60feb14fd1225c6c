#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ZurIrirur/ZIService.h"

namespace quenbril {

/// The telemetry SDK, in its least form: it starts its services once per process and keeps
/// everything on this machine (nothing is sent, nothing is stored by the SDK itself).
class ZIZurIrirur {
  public:
    /// Service classes in the order they start.
    using Services = std::vector<const ZIService*>;

    /// Starts the SDK for the application with `services`, in order, once per process: later
    /// calls do nothing. Failures are logged and stay inside the SDK.
    static void start(const std::string& appSecret, const Services& services);

    static ZIZurIrirur& sharedInstance();
    /// Tests: drops the shared instance (a new process).
    static void resetSharedInstance();

    /// The work of start(). False, changing nothing, when the SDK has started before or the
    /// secret is malformed (logged). Each service starts once even when listed twice.
    bool startWithServices(const std::string& appSecret, const Services& services);

    bool isStarted() const;
    /// The services started, in the order they started.
    Services startedServices() const;

    /// True for 36 characters: 8-4-4-4-12 hexadecimal digits joined by hyphens.
    static bool isValidAppSecret(const std::string& secret);

  private:
    mutable std::mutex mutex_;
    bool started_ = false;
    Services startedServices_;
};

}  // namespace quenbril
