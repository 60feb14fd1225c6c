// The strips of the real application at work, on an X display against the stand-in: the level
// lines move in every strip, a click makes a strip active on the server and its border turns
// green, Y and N in mic-check mode check and uncheck it on the server, and
// a long click while hard muting makes the server hard-mute it. The application is put together
// in this process as the program does (composition, Qt run loop, resources), so that the test
// can click its strips; the screen is looked at from outside.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "tests/support/InProcessRemote.h"
#include "tests/support/QtTestTime.h"
#include "tests/support/ScreenPicture.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

// The state the server gives a clicked strip.
constexpr uint64_t kActive = 1;

/// The border of an active strip.
QColor activeBorder() { return toQColor(ColorHelper::vozodGreen()); }

/// The middle of the strip in its window, where a pointer press lands: the window finds what
/// lies there, so the press passes the level display over the strips as the user's would.
QPoint middleInWindow(const QWidget& strip) { return strip.mapTo(strip.window(), QPoint(64, 64)); }

/// The strip's cell on the screen.
QRect cellOnScreen(const QWidget& strip) {
    return QRect(strip.mapToGlobal(QPoint(0, 0)), strip.size());
}

/// Pixels of `region` within `tolerance` of `colour` in every channel (GL rounds colours its
/// own way).
int countNear(const QImage& screen, const QColor& colour, const QRect& region, int tolerance) {
    int count = 0;
    const QRect r = region.intersected(screen.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = screen.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance &&
                std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance) {
                ++count;
            }
        }
    }
    return count;
}

class RemoteStrips : public InProcessRemoteTest {
  protected:
    /// The screen, grabbed on a thread of its own while the main loop goes on serving the link:
    /// a remote held up for a whole grab on a loaded machine falls behind the stand-in's frames
    /// and is dropped by it.
    static QImage screen() {
        auto grab =
            std::async(std::launch::async, [] { return grabScreen(QUENBRIL_SCREENGRAB_PATH); });
        (void)QTest::qWaitFor(
            [&] { return grab.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            kPatienceMs);
        return grab.get();
    }

    /// Waits for panel A's 8 strips, shown, and the server here.
    bool stripsShown() const { return liveStripShown(7); }
    /// Waits until `columns` more level columns have reached the history the level displays
    /// draw.
    static bool levelColumnsArrive(int columns) {
        const CharRingBuffer& levels = PELAudioEngine::sharedInstance().levelRingBuffer();
        int last = levels.bufferStart();
        int seen = 0;
        return QTest::qWaitFor(
            [&] {
                const int now = levels.bufferStart();
                seen += (now - last + levels.bufferLen()) % levels.bufferLen();
                last = now;
                return seen >= columns;
            },
            kPatienceMs);
    }
    static ChannelStripController* controllerAt(size_t index) {
        const auto& controllers = ChannelStripManager::channelStripControllers();
        return index < controllers.size() ? controllers[index].get() : nullptr;
    }
    /// The server is here and the strip at `index` is shown, with no "not connected" cover over
    /// it.
    bool live(size_t index) const {
        QWidget* strip = stripWidget(index);
        auto* cover = composition->viewController().findChild<QWidget*>("notLiveCover");
        return composition->viewController().serverIsHere() && strip && strip->isVisible() &&
               !(cover && cover->isVisible());
    }
    /// Does `act` on the strip at `index` until `arrived` holds. The stand-in drops a remote
    /// that falls behind its frames (a loaded machine draws the level lines slowly), and what
    /// the user did while the link was down is neither sent nor kept: then `act` is done again
    /// once the link and the strip's state are back. False when the patience ran out.
    bool untilArrived(size_t index, const std::function<void()>& act,
                      const std::function<bool()>& arrived) const {
        QDeadlineTimer patience(kPatienceMs);
        auto left = [&] { return static_cast<int>(std::max<qint64>(0, patience.remainingTime())); };
        while (!patience.hasExpired()) {
            if (!QTest::qWaitFor([&] { return arrived() || live(index); }, left())) break;
            if (arrived()) return true;
            act();
            (void)QTest::qWaitFor([&] { return arrived() || !live(index); }, left());
            if (arrived()) return true;
        }
        return arrived();
    }
    /// Pixels of the audio line's colour in the cells of panel A's 8 strips.
    int audioPixels(const QImage& picture) const {
        const QColor audio = toQColor(ColorHelper::colorForArray(ColorHelper::colorForAudio()));
        int count = 0;
        for (size_t i = 0; i < 8; ++i) {
            if (QWidget* strip = stripWidget(i)) {
                count += countNear(picture, audio, cellOnScreen(*strip), 2);
            }
        }
        return count;
    }
    /// The screen once `wanted` holds for it, or the last one when the patience ran out.
    template <typename Wanted>
    QImage screenWhen(Wanted wanted) const {
        QImage picture;
        (void)QTest::qWaitFor(
            [&] {
                picture = screen();
                return !picture.isNull() && wanted(picture);
            },
            kPatienceMs);
        return picture;
    }
};

TEST_F(RemoteStrips, LevelsMoveAndClicksReachTheServer) {
    // The stand-in puts 8 of its 16 channels in panel A, the panel shown.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            QWidget* last = stripWidget(7);
            return last && last->isVisible();
        },
        kPatienceMs))
        << "no strips came";
    // Two seconds of level columns from the stand-in, counted as they reach the remote: the
    // screen is not grabbed meanwhile, since a grab holds the remote up on a loaded machine.
    ASSERT_TRUE(levelColumnsArrive(20)) << "no level frames came";

    {
        SCOPED_TRACE("every strip cell shows its audio line");
        // The picture is taken again until every cell shows its line, as the display draws the
        // columns, or the patience runs out.
        const QColor audio = toQColor(ColorHelper::colorForArray(ColorHelper::colorForAudio()));
        auto audioPixels = [&](const QImage& picture, size_t i) {
            QWidget* strip = stripWidget(i);
            return strip ? countNear(picture, audio, cellOnScreen(*strip), 2) : 0;
        };
        QImage picture;
        // The checks below say which cell lacks its line when the wait ends without one.
        (void)QTest::qWaitFor(
            [&] {
                picture = screen();
                for (size_t i = 0; i < 8; ++i) {
                    if (picture.isNull() || audioPixels(picture, i) <= 10) return false;
                }
                return true;
            },
            kPatienceMs);
        ASSERT_FALSE(picture.isNull());
        for (size_t i = 0; i < 8; ++i) EXPECT_GT(audioPixels(picture, i), 10) << "strip " << i;
    }

    {
        SCOPED_TRACE("a click makes the strip active on the server and its border turns green");
        auto active = [] {
            ChannelStripController* c = controllerAt(2);
            return c && c->state().channelState() == kActive;
        };
        ASSERT_TRUE(untilArrived(
            2, [] { clickAt(*stripWidget(2), QPoint(64, 64)); }, active))
            << "the click did not make the strip active";
        // The left edge, half-way down: the border lies along it, once the strip has repainted
        // (later on a loaded machine, so the screen is looked at until then).
        const QRect cell = cellOnScreen(*stripWidget(2));
        const QPoint border(cell.left() + 1, cell.top() + 64);
        const QImage picture =
            screenWhen([&](const QImage& p) { return p.pixelColor(border) == activeBorder(); });
        EXPECT_EQ(picture.pixelColor(border), activeBorder());
    }

    {
        SCOPED_TRACE("a long click while hard muting hard-mutes the strip");
        UserSettingsManager::sharedInstance().setHardMuting(true);
        const QImage before = screen();
        const QRect cell = cellOnScreen(*stripWidget(4));
        auto muted = [] {
            ChannelStripController* c = controllerAt(4);
            return c && c->state().hardMuted();
        };
        auto longClick = [&] {
            QWidget* strip = stripWidget(4);
            QWindow* window = strip->window()->windowHandle();
            const QPoint at = middleInWindow(*strip);
            QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
            // Held until the long click has come back from the server as its hard mute.
            (void)QTest::qWaitFor([&] { return muted() || !live(4); }, kPatienceMs);
            QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
        };
        ASSERT_TRUE(untilArrived(4, longClick, muted)) << "the long click did not hard-mute";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                auto* view = dynamic_cast<ChannelStrip*>(stripWidget(4));
                return muted() && view && view->element(ChannelStrip::HardMute).isShown();
            },
            kPatienceMs))
            << "hard-muted " << muted();
        // The overlay's red sign lies in the middle of the strip, once it has repainted.
        const QRect middle(cell.x() + 44, cell.y() + 44, 40, 40);
        const int redBefore = countRed(before, middle);
        const int red = countRed(
            screenWhen([&](const QImage& p) { return countRed(p, middle) > redBefore + 100; }),
            middle);
        EXPECT_GT(red, redBefore + 100);
    }
}

// The README's keys: in mic-check mode Y marks the strip being listened to (the one clicked)
// checked on the server, and N marks it unchecked again.
TEST_F(RemoteStrips, InMicCheckModeYChecksTheClickedStripOnTheServerAndNUnchecksIt) {
    ASSERT_TRUE(stripsShown()) << "no strips came";
    QWindow* window = stripWidget(3)->window()->windowHandle();
    window->requestActivate();
    ASSERT_TRUE(test::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(UserSettingsManager::sharedInstance().micCheckMode()) << "Ctrl+Shift+M";

    auto stateOf = [] { return controllerAt(3) ? &controllerAt(3)->state() : nullptr; };
    auto checkedOnServer = [&](bool checked) {
        const ChannelStripState* state = stateOf();
        return state && state->channelState() == kActive &&
               state->micCheckState().checked() == checked &&
               state->micCheckState().needsChecking();
    };
    ASSERT_TRUE(untilArrived(
        3, [] { clickAt(*stripWidget(3), QPoint(64, 64)); },
        [&] { return stateOf() && stateOf()->channelState() == kActive; }))
        << "the click did not make the strip active";
    ASSERT_FALSE(stateOf()->micCheckState().checked());

    // The keys go to the window, as the user types them; the answer comes from the server.
    // The strip's view is fetched after each answer: a reconnection meanwhile rebuilds every
    // strip from the server's "Channels", and the view of before is gone.
    ASSERT_TRUE(untilArrived(
        3, [&] { QTest::keyClick(window, Qt::Key_Y); }, [&] { return checkedOnServer(true); }))
        << "Y did not check the strip";
    auto* view = dynamic_cast<ChannelStrip*>(stripWidget(3));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->element(ChannelStrip::MicCheck).background, QColor::fromRgbF(0, 1, 0, 0.5))
        << "the band turns green";
    for (size_t i = 0; i < 8; ++i) {
        if (i == 3) continue;
        ASSERT_NE(controllerAt(i), nullptr);
        EXPECT_FALSE(controllerAt(i)->state().micCheckState().checked())
            << "strip " << i << " is not listened to";
    }

    ASSERT_TRUE(untilArrived(
        3, [&] { QTest::keyClick(window, Qt::Key_N); }, [&] { return checkedOnServer(false); }))
        << "N did not uncheck the strip";
    view = dynamic_cast<ChannelStrip*>(stripWidget(3));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->element(ChannelStrip::MicCheck).background, QColor::fromRgbF(1, 0, 0, 0.5))
        << "the band turns red";
}

}  // namespace

// The lock's cover hides the level lines too, though their display stacks over every widget.
TEST_F(RemoteStrips, TheLockCoverCoversTheLevelLines) {
    ASSERT_TRUE(stripsShown()) << "no strips came";
    QImage picture = screenWhen([&](const QImage& p) { return audioPixels(p) > 80; });
    ASSERT_GT(audioPixels(picture), 80) << "no level lines before the lock";

    composition->appDelegate().lockItem()->trigger();
    ASSERT_TRUE(UserSettingsManager::sharedInstance().isLocked());
    // Once the cover has grown over the whole window.
    const LockView* cover = composition->viewController().lockOverlay();
    ASSERT_NE(cover, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cover->shownFraction() >= 1.0; }, kPatienceMs));
    picture = screenWhen([&](const QImage& p) { return audioPixels(p) == 0; });
    EXPECT_EQ(audioPixels(picture), 0);

    composition->appDelegate().lockItem()->trigger();
    picture = screenWhen([&](const QImage& p) { return audioPixels(p) > 80; });
    EXPECT_GT(audioPixels(picture), 80) << "the lines come back with the unlock";
}

// The server goes away: no strip keeps its solo border, battery or lines, and the strip area
// says it is not live until the server is back with its state.
TEST_F(RemoteStrips, WhenTheServerGoesAwayTheStripsReadAsOffAndTheAreaAsNotLive) {
    ASSERT_TRUE(stripsShown()) << "no strips came";
    // The strip and its controller are fetched again after each wait: a reconnection meanwhile
    // rebuilds every strip from the server's "Channels".
    auto active = [] {
        ChannelStripController* c = controllerAt(2);
        return c && c->state().channelState() == kActive;
    };
    ASSERT_TRUE(untilArrived(
        2, [] { clickAt(*stripWidget(2), QPoint(64, 64)); }, active))
        << "the click did not make the strip active";
    const QRect cell = cellOnScreen(*stripWidget(2));
    const QPoint border(cell.left() + 1, cell.top() + 64);
    QImage picture = screenWhen([&](const QImage& p) {
        return p.pixelColor(border) == activeBorder() && audioPixels(p) > 80;
    });
    ASSERT_EQ(picture.pixelColor(border), activeBorder());

    server.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !composition->viewController().serverIsHere(); },
                                kPatienceMs));
    picture = screenWhen([&](const QImage& p) {
        return p.pixelColor(border) != activeBorder() && audioPixels(p) == 0;
    });
    EXPECT_NE(picture.pixelColor(border), activeBorder()) << "the solo border stays";
    EXPECT_EQ(audioPixels(picture), 0) << "the lines stay";
    ASSERT_NE(controllerAt(2), nullptr);
    EXPECT_EQ(controllerAt(2)->state().channelState(), 0u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(dynamic_cast<ChannelStripView*>(stripWidget(i))->batText(), "") << i;
    }
    auto* cover = composition->viewController().findChild<QWidget*>("notLiveCover");
    ASSERT_NE(cover, nullptr);
    EXPECT_TRUE(cover->isVisible());
    // Its words are red, over the strips.
    QRect area(cover->mapToGlobal(QPoint(0, 0)), cover->size());
    EXPECT_GT(countRed(picture, area.intersected(picture.rect())), 200);

    // The server comes back: once its state is in, the area is live again.
    if (auto refusal = startStandIn(); !refusal.empty()) GTEST_SKIP() << refusal;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !cover->isVisible(); }, kPatienceMs));
}
