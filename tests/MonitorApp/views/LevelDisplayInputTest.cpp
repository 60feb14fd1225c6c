#include <gtest/gtest.h>

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/views/ClickableMTKViewDelegate.h"
#include "MonitorApp/views/LevelDisplayInput.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/views/SharedLevelDisplayServices.h"

namespace quenbril {
namespace {

/// Records the notifications the level displays post.
class PostedNotifications {
  public:
    PostedNotifications() {
        for (const char* name :
             {kMicCheckKeyNotification, kCSClickedNotification, kPlaybackStartedNotification}) {
            observers_.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const Notification& n) {
                    names.emplace_back(name);
                    infos.push_back(n.userInfo);
                }));
        }
    }

    std::vector<std::string> names;
    std::vector<Dictionary> infos;

  private:
    std::vector<NotificationObserver> observers_;
};

class CursorDelegate : public ClickableMTKViewDelegate {
  public:
    void setUpGL(QOpenGLFunctions_3_3_Core&) override {}
    void tearDownGL() override {}
    void drawableSizeWillChange(const Size&) override {}
    void draw(ClickableMTKView&) override {}
    void setPlaybackCursor(float cursor) override { cursor_ = cursor; }
    float playbackCursor() const override { return cursor_; }

  private:
    float cursor_ = 1.0f;
};

/// Four strips in panel A (ids 1 to 4), solo on, the first strip soloed.
class LevelDisplayKeysTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        buildStrips(4);
        settings().setSoloOn(true);
        settings().setPrevSoloIndex(0);
        settings().setColumns(2);
    }

    static bool key(int code, const char* text = "") {
        return LevelDisplayInput(sharedLevelDisplayServices())
            .keyDown(code, QString::fromLatin1(text));
    }

    PostedNotifications posted;
};

TEST_F(LevelDisplayKeysTest, InMicCheckModeYAndNAreAnswersUpperCased) {
    settings().setMicCheckMode(true);
    EXPECT_TRUE(key(Qt::Key_Y, "y"));
    EXPECT_TRUE(key(Qt::Key_N, "N"));
    ASSERT_EQ(posted.names, (std::vector<std::string>{"MicCheckKey", "MicCheckKey"}));
    EXPECT_EQ(posted.infos[0]["Key"].optionalString(), std::optional<std::string>("Y"));
    EXPECT_EQ(posted.infos[1]["Key"].optionalString(), std::optional<std::string>("N"));

    // Any other key follows the solo rules.
    stateOf(2).setChannelState(2);
    EXPECT_TRUE(key(Qt::Key_Right));
    EXPECT_EQ(posted.names.size(), 2u);
    EXPECT_EQ(settings().prevSoloIndex(), 1);
}

TEST_F(LevelDisplayKeysTest, ArrowsMoveTheSoloWithinThePanelOnly) {
    for (int64_t id = 1; id <= 4; ++id) stateOf(id).setChannelState(2);
    EXPECT_TRUE(key(Qt::Key_Left));
    EXPECT_EQ(settings().prevSoloIndex(), 0);
    EXPECT_TRUE(key(Qt::Key_Up));
    EXPECT_EQ(settings().prevSoloIndex(), 0);

    EXPECT_TRUE(key(Qt::Key_Right));
    EXPECT_EQ(settings().prevSoloIndex(), 1);
    EXPECT_TRUE(key(Qt::Key_Down));  // two columns a row
    EXPECT_EQ(settings().prevSoloIndex(), 3);
    EXPECT_TRUE(key(Qt::Key_Down));
    EXPECT_EQ(settings().prevSoloIndex(), 3);
    EXPECT_TRUE(posted.names.empty());
}

TEST_F(LevelDisplayKeysTest, AnArrowOntoAnOffStripClicksIt) {
    stateOf(2).setChannelState(0);
    EXPECT_TRUE(key(Qt::Key_Right));
    EXPECT_EQ(settings().prevSoloIndex(), 0);
    ASSERT_EQ(posted.names, std::vector<std::string>{"CSClicked"});
    EXPECT_EQ(posted.infos[0]["index"].longLongValue(), std::optional<int64_t>(2));
    EXPECT_EQ(posted.infos[0]["sender"].optionalString(), std::optional<std::string>("master"));
}

TEST_F(LevelDisplayKeysTest, ArrowsCountTheShownPanel) {
    Array channels{strip(1, "A"), strip(2, "B"), strip(3, "B")};
    manager().initFromProperyArray(channels);
    stateOf(3).setChannelState(2);
    EXPECT_TRUE(key(Qt::Key_Right));  // panel A holds one strip
    EXPECT_EQ(settings().prevSoloIndex(), 0);
    manager().setPanelIndex(1);
    EXPECT_TRUE(key(Qt::Key_Right));
    EXPECT_EQ(settings().prevSoloIndex(), 1);
}

TEST_F(LevelDisplayKeysTest, WhileLockedArrowsAndAnswersDoNothing) {
    settings().setIsLocked(true);
    settings().setMicCheckMode(true);
    stateOf(2).setChannelState(2);
    EXPECT_TRUE(key(Qt::Key_Y, "y"));
    EXPECT_TRUE(key(Qt::Key_Right));
    EXPECT_EQ(settings().prevSoloIndex(), 0);
    EXPECT_TRUE(posted.names.empty());
}

TEST_F(LevelDisplayKeysTest, OtherKeysGoOnOrAreDropped) {
    EXPECT_FALSE(key(Qt::Key_A, "a"));  // to the base class
    EXPECT_TRUE(key(Qt::Key_F1));       // no text: dropped
    settings().setSoloOn(false);
    EXPECT_FALSE(key(Qt::Key_Right));
    settings().setSoloOn(true);
    settings().setPrevSoloIndex(-1);
    EXPECT_FALSE(key(Qt::Key_Right));
    EXPECT_EQ(settings().prevSoloIndex(), -1);
}

TEST(ReplayDelay, ClicksAcrossAThreeThousandColumnHistory) {
    EXPECT_EQ(LevelDisplayInput::replayDelay(0.0f, 3000), 14395904);
    EXPECT_EQ(LevelDisplayInput::replayDelay(0.5f, 3000), 7204864);
    EXPECT_EQ(LevelDisplayInput::replayDelay(1.0f, 3000), 8192);
    EXPECT_EQ(LevelDisplayInput::replayDelay(1.5f, 3000), 0);
}

class ReplayTest : public SettingsTest {
  protected:
    PostedNotifications posted;
    CursorDelegate delegate;
};

TEST_F(ReplayTest, AClickStartsAReplayFromThereAndStopGoesBackToLive) {
    const LevelDisplayInput input(sharedLevelDisplayServices());
    input.startReplay(0.5f, delegate);
    EXPECT_FLOAT_EQ(delegate.playbackCursor(), 0.5f);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 7204864);
    EXPECT_EQ(posted.names, std::vector<std::string>{"PlaybackStarted"});

    input.stopReplay(&delegate);
    EXPECT_FLOAT_EQ(delegate.playbackCursor(), 1.0f);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
}

TEST_F(ReplayTest, NoReplayStartsWhileLocked) {
    const LevelDisplayInput input(sharedLevelDisplayServices());
    EXPECT_TRUE(input.mayStartReplay());
    UserSettingsManager::sharedInstance().setIsLocked(true);
    EXPECT_FALSE(input.mayStartReplay());
}

// The input answers with the services it was made with, whatever is shared.
TEST_F(ReplayTest, AReplayGoesToThePlaybackCentreAndLockTheInputWasMadeWith) {
    UserDefaults defaults(root_ + "/own", "Own");
    UserSettingsManager own(defaults);
    PlaybackManager playback;
    NotificationCenter center;
    int started = 0;
    const NotificationObserver observer =
        center.addObserver(kPlaybackStartedNotification, [&](const Notification&) { ++started; });
    const LevelDisplayInput input({own, ChannelStripManager::sharedInstance(), playback, center,
                                   ColorHelper::sharedInstance()});

    input.startReplay(0.5f, delegate);
    EXPECT_EQ(playback.delayInSamples(), 7204864);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(posted.names.empty()) << "nothing on the shared centre";

    own.setIsLocked(true);
    EXPECT_FALSE(input.mayStartReplay());
    EXPECT_TRUE(LevelDisplayInput(sharedLevelDisplayServices()).mayStartReplay());
}

}  // namespace
}  // namespace quenbril
