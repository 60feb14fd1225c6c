#pragma once

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/StripViewServices.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

// The services of the views over the process's shared instances: the composition hands them in,
// and so do the tests and benchmarks that run those views (made after a fixture has reset the
// instances, and let go of before it resets them again).

/// The chat windows' services.
inline ChatServices sharedChatServices() {
    return {ChatManager::sharedInstance(),         ChatColorManager::sharedInstance(),
            ColorHelper::sharedInstance(),         UserSettingsManager::sharedInstance(),
            ChannelStripManager::sharedInstance(), UserDefaults::standardUserDefaults(),
            NotificationCenter::defaultCenter()};
}

/// The strip views' and panel display's services.
inline StripViewServices sharedStripViewServices() {
    return {UserSettingsManager::sharedInstance(), NotificationCenter::defaultCenter(),
            ChannelStripManager::sharedInstance(), PELAudioEngine::sharedInstance(),
            PlaybackManager::sharedInstance(),     ColorHelper::sharedInstance()};
}

}  // namespace quenbril
