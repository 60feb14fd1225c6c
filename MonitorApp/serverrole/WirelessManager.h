#pragma once

#include <map>
#include <memory>
#include <string>

#include "MonitorApp/serverrole/WirelessDevice.h"

namespace quenbril {

/// The registry of wireless receiver channels, keyed by channel name. The application has no
/// registry: `sharedInstance()` yields none unless a test installs one.
class WirelessManager {
  public:
    using Devices = std::map<std::string, std::shared_ptr<WirelessDevice>>;

    /// None in the application; callers check.
    static WirelessManager* sharedInstance();
    /// Tests: installs a registry as the shared one (nullptr removes it). The caller keeps
    /// ownership and removes it before it dies.
    static void setSharedInstance(WirelessManager* registry);

    const Devices& devices() const { return devices_; }
    Devices& devices() { return devices_; }
    /// The record of a channel name, or null.
    const WirelessDevice* device(const std::string& name) const;

  private:
    Devices devices_;
};

}  // namespace quenbril
