#include "MonitorApp/settings/SettingsManager.h"

#include <algorithm>

#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {
SharedInstance<SettingsManager> shared;
}

SettingsManager& SettingsManager::sharedInstance() { return shared.get(); }

void SettingsManager::setCHANNELS(int v) {
    channels_.store(std::clamp(v, 1, kMaxChannels), std::memory_order_relaxed);
}

}  // namespace quenbril
