// The OpenGL panel and single-channel views and the waveform renderer drawn by real OpenGL on
// an X server (xvfb-run, llvmpipe), read back with grabFramebuffer().

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/legacy_gl/GLPanelView.h"
#include "MonitorApp/views/legacy_gl/GPURendererWave.h"
#include "MonitorApp/views/legacy_gl/SingleEAGLView.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/views/GlColoursTest.h"
#include "tests/MonitorApp/views/SharedLevelDisplayServices.h"
#include "tests/support/QtTestTime.h"

namespace quenbril {
namespace {

const QColor kAudio(0, 255, 0);
const QColor kRF(255, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2 && std::abs(a.alpha() - b.alpha()) <= 2;
}

/// The rows of column x whose pixel has the colour.
std::vector<int> rowsOf(const QImage& image, int x, const QColor& color) {
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (near(image.pixelColor(x, y), color)) rows.push_back(y);
    }
    return rows;
}

/// Whether a pixel of row y between columns x0 and x1 has the colour.
bool inColumns(const QImage& image, int x0, int x1, int y, const QColor& color) {
    for (int x = x0; x <= x1; ++x) {
        if (near(image.pixelColor(x, y), color)) return true;
    }
    return false;
}

class GLViewsGlTest : public test::GlColoursTest {
  protected:
    template <typename View>
    static void show(QWidget& window, View& view, int width, int height) {
        window.resize(width, height);
        view.setParent(&window);
        view.setGeometry(0, 0, width, height);
        window.show();
        // A view that is not exposed yet draws no frame when asked.
        ASSERT_TRUE(test::qWaitForWindowExposed(&window));
        QApplication::processEvents();
    }
};

TEST_F(GLViewsGlTest, PanelLinesLieAtThePredictedRowsAfterNinetyDraws) {
    QWidget window;
    GLPanelView view(sharedLevelDisplayServices());
    show(window, view, 512, 256);
    view.setLevelCount(2);
    view.levels()[0] = 100;   // on the baseline, 32 points down
    view.rfLevels()[0] = 50;  // -0.51: 64.64 points down
    // Frames drawn while the window came up stored zero bytes, as the rings start.
    const int start = view.curves().curveStart();
    QImage image;
    // Each frame stores the bytes once; the 91st shows the newest 90 points (x from 64 on).
    for (int i = 0; i < 91; ++i) image = view.grabFramebuffer();
    ASSERT_EQ(image.width(), 512);
    EXPECT_EQ(view.curves().curveStart(), (start + 91) % 180);

    const auto oldAudio = rowsOf(image, 20, kAudio);
    ASSERT_FALSE(oldAudio.empty());
    EXPECT_GE(oldAudio.front(), 95);
    EXPECT_LE(oldAudio.back(), 96);
    for (int x : {80, 120}) {
        const auto audio = rowsOf(image, x, kAudio);
        ASSERT_FALSE(audio.empty()) << x;
        EXPECT_GE(audio.front(), 31);
        EXPECT_LE(audio.back(), 32);
        const auto rf = rowsOf(image, x, kRF);
        ASSERT_FALSE(rf.empty()) << x;
        EXPECT_GE(rf.front(), 64);
        EXPECT_LE(rf.back(), 65);
    }
    // Strip 1 has had only zero bytes: both lines 64 points below its baseline.
    EXPECT_FALSE(rowsOf(image, 128 + 64, kAudio).empty());
    EXPECT_TRUE(rowsOf(image, 128 + 64, kRF).empty());  // under the audio line
    EXPECT_TRUE(rowsOf(image, 256 + 64, kAudio).empty());
    // The red border and nothing else at the bottom.
    EXPECT_TRUE(near(image.pixelColor(300, 0), kRed));
    EXPECT_TRUE(near(image.pixelColor(300, 255), kRed));
    EXPECT_TRUE(near(image.pixelColor(511, 200), kRed));
    EXPECT_EQ(image.pixelColor(300, 200).alpha(), 0);

    // Drawing disabled: nothing drawn and the rings stand still.
    view.setDrawingEnabled(false);
    image = view.grabFramebuffer();
    EXPECT_EQ(view.curves().curveStart(), (start + 91) % 180);
    EXPECT_TRUE(rowsOf(image, 80, kAudio).empty());
}

TEST_F(GLViewsGlTest, TheAnimationAsksForFramesAndTheGLResourcesCanBeRemade) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    QWidget window;
    GLPanelView view(sharedLevelDisplayServices());
    show(window, view, 256, 128);
    view.setLevelCount(1);
    view.setAnimationInterval(0.5);
    EXPECT_FALSE(view.isAnimating());
    view.startAnimation();
    view.setAnimationInterval(0.25);  // restarts the running timer
    EXPECT_TRUE(view.isAnimating());
    const int before = view.framesDrawn();
    loop.advance(0.3);
    // The tick asks for a frame; the X server's answer may take more than one pass of events.
    EXPECT_TRUE(test::qWaitFor([&] { return view.framesDrawn() > before; }));
    view.stopAnimation();
    const int stopped = view.framesDrawn();
    loop.advance(1.0);
    QApplication::processEvents();
    EXPECT_EQ(view.framesDrawn(), stopped);
    RunLoop::setMain(nullptr);

    // Remade resources draw as before: the fresh lines 96 points down.
    view.reinit();
    QImage image = view.grabFramebuffer();
    const auto rows = rowsOf(image, 64, kAudio);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 95);
    EXPECT_LE(rows.back(), 96);

    // The triangle in (1.0, 0.85, 0.35) around the middle, drawn over the frame.
    view.drawAnObject();
    view.makeCurrent();
    uint8_t pixel[4] = {0, 0, 0, 0};
    view.context()->functions()->glReadPixels(128, 64, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    view.doneCurrent();
    EXPECT_EQ(pixel[0], 255);
    EXPECT_NEAR(pixel[1], 217, 1);
    EXPECT_NEAR(pixel[2], 89, 1);
}

TEST_F(GLViewsGlTest, SingleViewDrawsStippledAlertsAndTheCursor) {
    UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    settings.setShowAudio(false);
    settings.setShowQuality(false);
    settings.setShowRFA(false);
    settings.setShowRFB(false);
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    engine.alertRingBuffer().data()[0][300] = 1;  // x -0.8: column 60
    engine.alertRingBuffer().data()[0][450] = 2;  // x -0.7: column 90
    QWidget window;
    SingleEAGLView view(PELAudioEngine::sharedInstance(), sharedLevelDisplayServices());
    show(window, view, 600, 200);
    QImage image = view.grabFramebuffer();

    // Lines from -0.9 (row 190) upwards: 8 rows drawn, 8 skipped.
    for (int n = 0; n < 11; ++n) {
        const int dash = 190 - 16 * n - 4;
        const int gap = 190 - 16 * n - 12;
        EXPECT_TRUE(inColumns(image, 58, 61, dash, kRed)) << dash;
        EXPECT_FALSE(inColumns(image, 58, 61, gap, kRed)) << gap;
        EXPECT_TRUE(inColumns(image, 88, 91, dash, kBlue)) << dash;
        EXPECT_FALSE(inColumns(image, 88, 91, gap, kBlue)) << gap;
    }
    EXPECT_FALSE(inColumns(image, 55, 95, 196, kRed));
    EXPECT_EQ(image.pixelColor(300, 100).alpha(), 0);  // no replay: transparent

    // A click starts a replay from the middle: the cursor moves there on a dark red ground.
    int started = 0;
    const auto observer = NotificationCenter::defaultCenter().addObserver(
        kPlaybackStartedNotification, [&](const Notification&) { ++started; });
    view.setAudioHistoryAvailable(true);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(300, 100));
    EXPECT_EQ(started, 1);
    EXPECT_FLOAT_EQ(view.playbackCursor(), 0.5f);
    EXPECT_GT(PlaybackManager::sharedInstance().delayInSamples(), 0);
    image = view.grabFramebuffer();
    EXPECT_TRUE(inColumns(image, 296, 301, 100, kRed));
    EXPECT_TRUE(near(image.pixelColor(450, 100), QColor(38, 0, 0)));

    view.stopPlayback();
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    EXPECT_FLOAT_EQ(view.playbackCursor(), 0.0f);
    image = view.grabFramebuffer();
    EXPECT_FALSE(inColumns(image, 296, 301, 100, kRed));
    EXPECT_TRUE(near(image.pixelColor(450, 100), QColor(0, 0, 0)));
}

TEST_F(GLViewsGlTest, TheSingleViewHasABlackBorderOnePointWide) {
    UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    settings.setShowAudio(false);
    settings.setShowQuality(false);
    QWidget window;
    SingleEAGLView view(PELAudioEngine::sharedInstance(), sharedLevelDisplayServices());
    show(window, view, 600, 200);
    const QColor black(0, 0, 0);
    for (bool replaying : {false, true}) {
        SCOPED_TRACE(replaying ? "on the replay's ground" : "on a clear ground");
        if (replaying) {
            view.setAudioHistoryAvailable(true);
            QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(300, 100));
        }
        const QImage image = view.grabFramebuffer();
        for (QPoint edge : {QPoint(300, 0), QPoint(300, 199), QPoint(599, 100)}) {
            EXPECT_TRUE(near(image.pixelColor(edge), black)) << edge.x() << "," << edge.y();
        }
        const QColor inside = image.pixelColor(450, 1);
        EXPECT_TRUE(replaying ? near(inside, QColor(38, 0, 0)) : inside.alpha() == 0);
    }
    // Drawing switched off leaves the border.
    view.setDrawingEnabled(false);
    EXPECT_TRUE(near(view.grabFramebuffer().pixelColor(300, 0), black));
    EXPECT_EQ(view.loadTexture(QImage(40, 30, QImage::Format_RGB32)), QSize(40, 30));
}

TEST_F(GLViewsGlTest, WaveformDrawsASineAtFortyFivePercentOfTheHeightInBlue) {
    QWidget window;
    ClickableMTKView view(sharedLevelDisplayServices());
    GPURendererWave wave(view, 400);
    view.setDelegate(&wave);
    show(window, view, 400, 200);
    std::vector<float> sine(400);
    for (size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(std::sin(2 * M_PI * static_cast<double>(i) / 400));
    }
    wave.drawBuffer(sine.data(), 400);
    QImage image = view.grabFramebuffer();
    // Sample 100 is +1: 90 pixels above the middle; sample 300 is -1.
    auto rows = rowsOf(image, 100, kBlue);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 9);
    EXPECT_LE(rows.back(), 11);
    rows = rowsOf(image, 300, kBlue);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 189);
    EXPECT_LE(rows.back(), 191);
    EXPECT_EQ(image.pixelColor(100, 100).alpha(), 0);

    // Too few samples: logged, and the rest lies flat.
    testing::internal::CaptureStderr();
    wave.drawBuffer(sine.data(), 200);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Incorrect amount of samples"),
              std::string::npos);
    image = view.grabFramebuffer();
    rows = rowsOf(image, 300, kBlue);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 99);
    EXPECT_LE(rows.back(), 101);
    view.setDelegate(nullptr);
}

}  // namespace
}  // namespace quenbril
