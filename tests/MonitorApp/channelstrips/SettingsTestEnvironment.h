#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "MonitorApp/channelstrips/ColorHelper.h"
#include "MonitorApp/channelstrips/LTCManager.h"
#include "MonitorApp/channelstrips/PlaybackManager.h"
#include "MonitorApp/channelstrips/PlayerManager.h"
#include "MonitorApp/channelstrips/SettingsManager.h"
#include "MonitorApp/channelstrips/UserSettingsManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"

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
class SettingsTest : public testing::Test {
  protected:
    /// A start time a double holds exactly, so that advancing by 1.5 s gives exactly 1.5 s.
    static constexpr double kStartTime = 800000000.0;

    void SetUp() override {
        char pattern[] = "/tmp/quenbril-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        const char* previous = std::getenv("XDG_CONFIG_HOME");
        if (previous) savedConfigHome_ = previous;
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        loop_ = std::make_unique<ManualRunLoop>(kStartTime);
        RunLoop::setMain(loop_.get());
        restart();
    }

    void TearDown() override {
        restart();
        RunLoop::setMain(nullptr);
        loop_.reset();
        if (savedConfigHome_) {
            setenv("XDG_CONFIG_HOME", savedConfigHome_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    static void restart() {
        UserSettingsManager::resetSharedInstance();
        SettingsManager::resetSharedInstance();
        PlaybackManager::resetSharedInstance();
        PlayerManager::resetSharedInstance();
        LTCManager::resetSharedInstance();
        ColorHelper::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
    }

    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }

    std::string root_;
    std::optional<std::string> savedConfigHome_;
    std::unique_ptr<ManualRunLoop> loop_;
};

}  // namespace quenbril
