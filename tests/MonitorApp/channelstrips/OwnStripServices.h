#pragma once

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/StripServices.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

/// Services of its own for a strip manager made apart from the shared instances (the MIDI
/// input tests): settings and players as stored, a remote-role engine whose log timer runs on
/// the main run loop in force when this is made (make it after setting that loop, drop it
/// before the loop goes).
struct OwnStripServices {
    UserSettingsManager settings{UserDefaults::standardUserDefaults()};
    PELAudioEngine engine{true, UserSettingsManager::kMinLongRingBufLen};
    PlayerManager players{UserDefaults::standardUserDefaults()};
    LTCManager ltc;

    StripServices services() {
        return StripServices{settings, engine, players, ltc, NotificationCenter::defaultCenter()};
    }
};

}  // namespace quenbril
