#pragma once

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

/// The chat windows' services over the process's shared instances: the composition hands them
/// in, and so do tests that run the chat windows (made after a fixture has reset the instances,
/// and let go of before it resets them again).
inline ChatServices sharedChatServices() {
    return {ChatManager::sharedInstance(),         ChatColorManager::sharedInstance(),
            ColorHelper::sharedInstance(),         UserSettingsManager::sharedInstance(),
            ChannelStripManager::sharedInstance(), UserDefaults::standardUserDefaults(),
            NotificationCenter::defaultCenter()};
}

}  // namespace quenbril
