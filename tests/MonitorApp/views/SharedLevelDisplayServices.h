#pragma once

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/LevelDisplayInput.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

/// The level displays' services as the application composes them: the shared instances as
/// they are now (made again after a fixture's restart, so fetch after it).
inline LevelDisplayServices sharedLevelDisplayServices() {
    return {UserSettingsManager::sharedInstance(), ChannelStripManager::sharedInstance(),
            PlaybackManager::sharedInstance(), NotificationCenter::defaultCenter(),
            ColorHelper::sharedInstance()};
}

}  // namespace quenbril
