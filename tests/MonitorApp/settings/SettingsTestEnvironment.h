#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/SettingsManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/UserDefaults.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril {

inline void PrintTo(const Value& value, std::ostream* out) { *out << value.description(); }
inline void PrintTo(const Color& c, std::ostream* out) {
    *out << "rgba(" << c.red << ", " << c.green << ", " << c.blue << ", " << c.alpha << ")";
}
inline void PrintTo(const SMPTETimecode& t, std::ostream* out) {
    *out << t.hours << ":" << t.mins << ":" << t.secs << ":" << t.frame;
}

/// Each test gets a fresh XDG_CONFIG_HOME, fresh shared instances and a virtual-time main run
/// loop; restart() drops every shared instance and the store, as the next run would see them.
class SettingsTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-settings-XXXXXX"));
        restart();
    }

    void TearDown() override {
        restart();
        leaveTemporarySettings();
    }

    static void restart() {
        UserSettingsManager::resetSharedInstance();
        PlaybackManager::resetSharedInstance();
        PlayerManager::resetSharedInstance();
        LTCManager::resetSharedInstance();
        ColorHelper::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
    }

    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
};

}  // namespace quenbril
