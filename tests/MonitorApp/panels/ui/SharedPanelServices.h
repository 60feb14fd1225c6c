#pragma once

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

/// The panel windows' services as the application composes them: the shared instances as they
/// are now (made again after a fixture's restart, so fetch after it).
inline PanelServices sharedPanelServices() {
    return {NotificationCenter::defaultCenter(),   UserDefaults::standardUserDefaults(),
            UserSettingsManager::sharedInstance(), ChannelStripManager::sharedInstance(),
            PlayerManager::sharedInstance(),       PlaybackManager::sharedInstance(),
            NotebookManager::sharedInstance(),     LTCManager::sharedInstance(),
            ColorHelper::sharedInstance(),         PELAudioEngine::sharedInstance()};
}

}  // namespace quenbril
