#include "MonitorApp/serverrole/WirelessManager.h"

namespace quenbril {

namespace {
WirelessManager* installedRegistry = nullptr;
}

WirelessManager* WirelessManager::sharedInstance() { return installedRegistry; }

void WirelessManager::setSharedInstance(WirelessManager* registry) { installedRegistry = registry; }

const WirelessDevice* WirelessManager::device(const std::string& name) const {
    const auto it = devices_.find(name);
    return it == devices_.end() ? nullptr : it->second.get();
}

}  // namespace quenbril
