// Presses on a channel strip as the strip notifications, on the virtual clock.

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/chat/ChatManager.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/channelstrips/StripFakes.h"
#include "tests/MonitorApp/views/StripViewsTest.h"

namespace quenbril::test {
namespace {

struct Posted {
    std::string name;
    Dictionary userInfo;
};

class ChannelStripInputTest : public StripViewsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripViewsTest::SetUp());
        for (const char* name :
             {kChannelClickStartedNotification, kChannelClickEndedNotification,
              kCSClickedNotification, kCSDoubleClickedNotification, kCSLongClickedNotification,
              kHardMuteClickedNotification, kChannelCheckClickedNotification}) {
            observers.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this](const Notification& n) {
                    posted.push_back({n.name, n.userInfo});
                }));
        }
        manager().initFromProperyArray(Array{strip(11), strip(12), strip(13)});
        ASSERT_EQ(manager().controllers().size(), 3u);
    }

    void TearDown() override {
        observers.clear();
        StripViewsTest::TearDown();
    }

    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const Posted& p : posted) result.push_back(p.name);
        return result;
    }
    const Posted* find(const std::string& name) const {
        for (const Posted& p : posted) {
            if (p.name == name) return &p;
        }
        return nullptr;
    }

    static void press(QWidget& w, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mousePress(&w, Qt::LeftButton, mods, QPoint(64, 64));
    }
    static void release(QWidget& w, Qt::KeyboardModifiers mods = Qt::NoModifier,
                        QPoint at = QPoint(64, 64)) {
        QTest::mouseRelease(&w, Qt::LeftButton, mods, at);
    }
    /// A drag with the button held, to `at` in the strip's coordinates.
    static void dragTo(QWidget& w, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), w.mapToGlobal(QPointF(at)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &move);
    }
    static void leave(QWidget& w) {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&w, &event);
    }

    std::vector<NotificationObserver> observers;
    std::vector<Posted> posted;
};

using Names = std::vector<std::string>;

TEST_F(ChannelStripInputTest, AShortClickPostsTheStripsIdAndHandsTheFocusBack) {
    FakeStripArea area;
    manager().setSuperView(&area);
    ChannelStrip& s = stripAt(1);
    press(s);
    advance(0.5);
    release(s);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded", "CSClicked"}));
    const Posted* click = find("CSClicked");
    ASSERT_NE(click, nullptr);
    EXPECT_EQ(click->userInfo["index"], Value(int64_t{12}));
    EXPECT_EQ(click->userInfo["sender"], Value("master"));
    EXPECT_EQ(area.focused, 1);

    // The timer was stopped: no long click follows.
    advance(5);
    EXPECT_EQ(posted.size(), 3u);
}

TEST_F(ChannelStripInputTest, ALongPressPostsALongClickAndTheReleaseNoClick) {
    settings().setChatUsername("Desk");
    ChannelStrip& s = stripAt(0);
    press(s);
    advance(0.74);
    EXPECT_EQ(find("CSLongClicked"), nullptr);
    advance(0.01);
    const Posted* longClick = find("CSLongClicked");
    ASSERT_NE(longClick, nullptr);
    EXPECT_EQ(longClick->userInfo["index"], Value(int64_t{11}));
    EXPECT_EQ(longClick->userInfo["sender"], Value("Desk"));
    EXPECT_EQ(longClick->userInfo["uuid"], Value(ChatManager::uuid()));
    release(s);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "CSLongClicked", "ChannelClickEnded"}));
}

TEST_F(ChannelStripInputTest, HardMutingWinsOverMicCheck) {
    settings().setHardMuting(true);
    settings().setMicCheckMode(true);
    ChannelStrip& s = stripAt(2);
    press(s);
    advance(0.75);
    release(s);
    const Posted* mute = find("HardMuteClicked");
    ASSERT_NE(mute, nullptr);
    EXPECT_EQ(mute->userInfo["index"], Value(int64_t{13}));
    EXPECT_EQ(mute->userInfo["uuid"], Value(ChatManager::uuid()));
    EXPECT_EQ(find("ChannelCheckClicked"), nullptr);
    EXPECT_EQ(find("CSLongClicked"), nullptr);

    posted.clear();
    settings().setHardMuting(false);
    press(s);
    advance(0.75);
    const Posted* check = find("ChannelCheckClicked");
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->userInfo["sender"], Value("master"));
    EXPECT_EQ(check->userInfo.contains("uuid"), false);
}

TEST_F(ChannelStripInputTest, WhileLockedPressesPostNothingNorDoesAPressHeldAsItLocks) {
    ChannelStrip& s = stripAt(0);
    settings().setIsLocked(true);
    press(s);
    advance(0.2);
    release(s);
    advance(2);
    EXPECT_TRUE(posted.empty());

    settings().setIsLocked(false);
    press(s);
    settings().setIsLocked(true);
    advance(0.75);
    release(s);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted"}));
}

TEST_F(ChannelStripInputTest, TheLongClickDurationRule) {
    EXPECT_EQ(ChannelStrip::longClickInterval(0), 0);
    EXPECT_EQ(ChannelStrip::longClickInterval(5), 5);
    EXPECT_EQ(ChannelStrip::longClickInterval(6), 0.75);
    EXPECT_EQ(ChannelStrip::longClickInterval(-1), 0.75);
    EXPECT_EQ(ChannelStrip::longClickInterval(std::nan("")), 0.75);

    // A duration of 0 fires at the next pass of the run loop, and the quick release after it
    // is a click as well.
    settings().setLongClickDuration(0);
    ChannelStrip& s = stripAt(0);
    press(s);
    loop_->runPending();
    EXPECT_NE(find("CSLongClicked"), nullptr);
    release(s);
    EXPECT_NE(find("CSClicked"), nullptr);

    // A longer duration: a release between 0.75 s and the duration is neither.
    posted.clear();
    settings().setLongClickDuration(2);
    press(s);
    advance(1);
    release(s);
    advance(3);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded"}));
}

TEST_F(ChannelStripInputTest, ShiftClickResetsTheWarningsAndIsNoClick) {
    ChannelStripState& state = manager().controllers()[1]->state();
    state.setWarningOn(true);
    state.setBatWarningOn(true);
    state.setClipWarnings(4);
    ChannelStrip& s = stripAt(1);
    press(s, Qt::ShiftModifier);
    advance(0.1);
    release(s, Qt::ShiftModifier);
    EXPECT_FALSE(state.warningOn());
    EXPECT_FALSE(state.batWarningOn());
    EXPECT_EQ(state.clipWarnings(), 0);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded"}));

    // Nor does it count towards a double click.
    advance(0.1);
    press(s);
    advance(0.05);
    release(s);
    EXPECT_EQ(find("CSDoubleClicked"), nullptr);
}

TEST_F(ChannelStripInputTest, TwoClicksAFifthOfASecondApartAreADoubleClick) {
    ChannelStrip& s = stripAt(2);
    press(s);
    advance(0.05);
    release(s);
    advance(0.15);
    press(s);
    advance(0.05);
    release(s);
    EXPECT_EQ(names(),
              (Names{"ChannelClickStarted", "ChannelClickEnded", "CSClicked", "ChannelClickStarted",
                     "ChannelClickEnded", "CSClicked", "CSDoubleClicked"}));
    const Posted* twice = find("CSDoubleClicked");
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice->userInfo["index"], Value(2)) << "the position in the strip list";

    // A third release 0.35 s later is not.
    posted.clear();
    advance(0.3);
    press(s);
    advance(0.05);
    release(s);
    EXPECT_EQ(find("CSDoubleClicked"), nullptr);
}

TEST_F(ChannelStripInputTest, DraggingOutCancelsTheLongClick) {
    ChannelStrip& s = stripAt(0);
    press(s);
    advance(0.2);
    dragTo(s, QPoint(100, 64));
    EXPECT_EQ(names(), (Names{"ChannelClickStarted"})) << "still inside";
    dragTo(s, QPoint(200, 64));
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded"}));
    dragTo(s, QPoint(220, 64));
    advance(1);
    EXPECT_EQ(find("CSLongClicked"), nullptr);
    EXPECT_EQ(posted.size(), 2u) << "one exit, one end";

    // The release outside still reaches the strip: after 1.2 s it is no click.
    release(s, Qt::NoModifier, QPoint(220, 64));
    EXPECT_EQ(find("CSClicked"), nullptr);

    // A quick drag out and release is a click.
    posted.clear();
    advance(1);
    press(s);
    advance(0.1);
    dragTo(s, QPoint(-10, 64));
    release(s, Qt::NoModifier, QPoint(-10, 64));
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded", "ChannelClickEnded",
                              "CSClicked"}));
    leave(s);
    EXPECT_EQ(posted.size(), 4u) << "the exit already cleared the timer";
}

TEST_F(ChannelStripInputTest, TheFirstLeaveAfterAClickEndsItOnceMore) {
    ChannelStrip& s = stripAt(0);
    press(s);
    advance(0.1);
    release(s);
    leave(s);
    leave(s);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded", "CSClicked",
                              "ChannelClickEnded"}));
}

TEST_F(ChannelStripInputTest, AStripNoControllerOwnsLogsAndPostsNoClick) {
    ChannelStrip orphan(viewServices());
    testing::internal::CaptureStderr();
    press(orphan);
    advance(0.1);
    release(orphan);
    advance(0.1);
    press(orphan);
    advance(0.75);
    release(orphan);
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find("internal error, channel strip not found"), std::string::npos);
    EXPECT_EQ(find("CSClicked"), nullptr);
    EXPECT_EQ(find("CSLongClicked"), nullptr);
    EXPECT_EQ(names(), (Names{"ChannelClickStarted", "ChannelClickEnded", "ChannelClickStarted",
                              "ChannelClickEnded"}));

    // A quick second release still counts as a double click, with the list's length.
    posted.clear();
    testing::internal::CaptureStderr();
    press(orphan);
    advance(0.05);
    release(orphan);
    advance(0.1);
    press(orphan);
    advance(0.05);
    release(orphan);
    testing::internal::GetCapturedStderr();
    const Posted* twice = find("CSDoubleClicked");
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice->userInfo["index"], Value(3));
}

// A strip's clicks name its own controller's strip, found without searching the shared list:
// a strip of a second manager posts its id too.
TEST_F(ChannelStripInputTest, AStripReachesTheControllerThatMadeIt) {
    ChannelStripManager other(manager().services());
    other.initFromProperyArray(Array{strip(77)});
    auto* s = dynamic_cast<ChannelStrip*>(other.controllers()[0]->view());
    ASSERT_NE(s, nullptr);
    press(*s);
    advance(0.1);
    release(*s);
    const Posted* click = find("CSClicked");
    ASSERT_NE(click, nullptr);
    EXPECT_EQ(click->userInfo["index"], Value(int64_t{77}));
}

}  // namespace
}  // namespace quenbril::test
