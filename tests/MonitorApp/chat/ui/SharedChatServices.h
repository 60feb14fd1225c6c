#pragma once

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril::test {

/// The chat windows' services: the shared instances, as the application hands them in. Made
/// after a fixture has reset them, and let go of before it resets them again.
inline ChatServices sharedChatServices() {
    return {ChatManager::sharedInstance(),         ChatColorManager::sharedInstance(),
            ColorHelper::sharedInstance(),         UserSettingsManager::sharedInstance(),
            ChannelStripManager::sharedInstance(), UserDefaults::standardUserDefaults(),
            NotificationCenter::defaultCenter()};
}

}  // namespace quenbril::test
