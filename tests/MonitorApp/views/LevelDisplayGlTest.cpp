// The level displays drawn by real OpenGL on an X server (xvfb-run, llvmpipe), read back with
// grabFramebuffer() and window grabs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QPalette>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURenderer.h"
#include "MonitorApp/views/GPURendererSingle.h"
#include "MonitorApp/views/PanelLevelDisplay.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/views/GlColoursTest.h"
#include "tests/MonitorApp/views/SharedLevelDisplayServices.h"
#include "tests/support/PostedEvents.h"
#include "tests/support/QtTestTime.h"

namespace quenbril {
namespace {

const QColor kAudio(0, 255, 0);
const QColor kRF(255, 0, 255);

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

/// Pixels of a rectangle that are not fully transparent.
int drawnPixels(const QImage& image, const QRect& rect) {
    int drawn = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (image.pixelColor(x, y).alpha() != 0) ++drawn;
        }
    }
    return drawn;
}

/// Green audio and magenta RF lines, four 128-point cells a row, in a window of 512 x 256
/// points; the engine's histories are 3000 columns long.
class LevelDisplayGlTest : public test::GlColoursTest {
  protected:
    static void setThickness(float thickness) {
        defaults().setObject(Value(thickness), "lineThickness");
        ColorHelper::sharedInstance().updateColors();
    }

    static PELAudioEngine& engine() { return PELAudioEngine::sharedInstance(); }

    /// Every column of a channel's level and RF history.
    static void fillChannel(int channel, int8_t level, int8_t rf) {
        for (int c = 0; c < 3000; ++c) {
            engine().levelRingBuffer().data()[channel][c] = level;
            engine().rfLevelRingBuffer().data()[channel][c] = rf;
        }
    }

    /// The panel display shown in a window of 512 x 256 points.
    std::unique_ptr<PanelLevelDisplay> showPanel(QWidget& window) {
        window.resize(512, 256);
        auto display = std::make_unique<PanelLevelDisplay>(PELAudioEngine::sharedInstance(),
                                                           sharedLevelDisplayServices());
        display->view().setParent(&window);
        display->view().setGeometry(0, 0, 512, 256);
        window.show();
        display->view().show();
        QApplication::processEvents();
        return display;
    }
};

TEST_F(LevelDisplayGlTest, AudioAndRFLinesLieAtTheirRowsInEachStripsCell) {
    // Level 40 is 20 points above the baseline (90 points below the top): row 70. RF 80 is
    // trunc(92) / 2 = 46 points up: row 44.
    fillChannel(0, 40, 80);
    fillChannel(1, -40, 0);
    QWidget window;
    auto display = showPanel(window);
    display->renderer().setLevelCount(2);
    const QImage image = display->glView().grabFramebuffer();
    ASSERT_EQ(image.width(), 512);

    for (int x : {10, 64, 120}) {
        const auto audioRows = rowsOf(image, x, kAudio);
        ASSERT_FALSE(audioRows.empty()) << x;
        EXPECT_GE(audioRows.front(), 69);
        EXPECT_LE(audioRows.back(), 70);
        const auto rfRows = rowsOf(image, x, kRF);
        ASSERT_FALSE(rfRows.empty()) << x;
        EXPECT_GE(rfRows.front(), 43);
        EXPECT_LE(rfRows.back(), 44);
    }
    // Cell 1: audio 20 points below the baseline, RF on it (over the audio line's place).
    const auto audioRows = rowsOf(image, 128 + 64, kAudio);
    ASSERT_FALSE(audioRows.empty());
    EXPECT_GE(audioRows.front(), 109);
    EXPECT_LE(audioRows.back(), 110);
    EXPECT_FALSE(rowsOf(image, 128 + 64, kRF).empty());

    // Nothing else is drawn: the rest of the cells and the cells from the level count on.
    EXPECT_EQ(drawnPixels(image, QRect(0, 0, 128, 40)), 0);
    EXPECT_EQ(drawnPixels(image, QRect(0, 75, 128, 53)), 0);
    EXPECT_EQ(drawnPixels(image, QRect(256, 0, 256, 256)), 0);
    EXPECT_EQ(drawnPixels(image, QRect(0, 128, 512, 128)), 0);
}

TEST_F(LevelDisplayGlTest, ThePanelMapChoosesTheChannelsAndALevelCountOfNoneDrawsNothing) {
    fillChannel(5, 100, 0);  // 50 points up: row 40
    QWidget window;
    auto display = showPanel(window);
    display->renderer().panelMap()[4] = 5;  // row 1, column 0
    display->renderer().panelMap()[0] = 500;
    display->renderer().setLevelCount(5);
    QImage image = display->glView().grabFramebuffer();
    const auto rows = rowsOf(image, 64, kAudio);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 128 + 39);
    EXPECT_LE(rows.back(), 128 + 40);
    EXPECT_EQ(drawnPixels(image, QRect(0, 0, 128, 128)), 0);  // an entry past the histories

    display->renderer().setLevelCount(0);
    image = display->glView().grabFramebuffer();
    EXPECT_EQ(drawnPixels(image, image.rect()), 0);
}

TEST_F(LevelDisplayGlTest, AThickerLineIsDrawnInMoreRows) {
    setThickness(1);
    QWidget window;
    auto display = showPanel(window);
    display->renderer().setLevelCount(1);
    const auto thin = rowsOf(display->glView().grabFramebuffer(), 64, kRF);
    EXPECT_EQ(thin.size(), 1u);

    // Two layers, the second half a point up and left: two rows.
    setThickness(2);
    QWidget thickWindow;
    auto thick = showPanel(thickWindow);
    thick->renderer().setLevelCount(1);
    EXPECT_EQ(thick->gpuRenderer().lineWidth(), 2u);
    const auto rows = rowsOf(thick->glView().grabFramebuffer(), 64, kRF);
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(LevelDisplayGlTest, TheStripsBeneathShowThroughTheTransparentDisplay) {
    fillChannel(0, 0, 0);
    QWidget window;
    window.resize(512, 256);
    auto* strip = new QWidget(&window);
    strip->setGeometry(0, 0, 256, 256);
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 255));
    strip->setPalette(palette);
    auto display = std::make_unique<PanelLevelDisplay>(PELAudioEngine::sharedInstance(),
                                                       sharedLevelDisplayServices());
    display->view().setParent(&window);
    display->view().setGeometry(0, 0, 512, 256);
    display->renderer().setLevelCount(1);
    window.show();
    QApplication::processEvents();

    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.pixelColor(200, 20).rgb(), QColor(0, 0, 255).rgb());
    EXPECT_EQ(shot.pixelColor(64, 20).rgb(), QColor(0, 0, 255).rgb());
    // The RF line of the fresh history lies on the baseline, over the strip.
    const auto rows = rowsOf(shot.convertToFormat(QImage::Format_ARGB32), 64, kRF);
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(rows.front(), 89);
    EXPECT_LE(rows.back(), 90);
}

/// The single-channel display of channel 3 in a window of 600 x 200 points.
class SingleDisplayGlTest : public LevelDisplayGlTest {
  protected:
    void show() {
        window.resize(600, 200);
        view = std::make_unique<ClickableMTKView>(sharedLevelDisplayServices(), &window);
        renderer = std::make_unique<GPURendererSingle>(*view, PELAudioEngine::sharedInstance(),
                                                       UserSettingsManager::sharedInstance(),
                                                       ColorHelper::sharedInstance());
        renderer->setChanIndex(3);
        view->setDelegate(renderer.get());
        view->setGeometry(0, 0, 600, 200);
        window.show();
        QApplication::processEvents();
    }

    void TearDown() override {
        view.reset();
        renderer.reset();
        LevelDisplayGlTest::TearDown();
    }

    QWidget window;
    std::unique_ptr<GPURendererSingle> renderer;
    std::unique_ptr<ClickableMTKView> view;
};

TEST_F(SingleDisplayGlTest, TheReplayCursorIsTwoRedLinesAtItsFraction) {
    show();
    QImage image = view->grabFramebuffer();
    EXPECT_EQ(image.pixelColor(150, 30), QColor(0, 0, 0));  // no replay: no cursor
    renderer->setPlaybackCursor(0.25f);
    image = view->grabFramebuffer();
    const QColor red(255, 0, 0);
    // x = -0.25 W and 2 pixels right of it: columns 150 and 152.
    for (int y : {5, 100, 195}) {
        EXPECT_TRUE(near(image.pixelColor(150, y), red) || near(image.pixelColor(149, y), red))
            << y;
        EXPECT_TRUE(near(image.pixelColor(152, y), red) || near(image.pixelColor(151, y), red))
            << y;
    }
    EXPECT_EQ(image.pixelColor(300, 30), QColor(0, 0, 0));
}

TEST_F(SingleDisplayGlTest, AnAlertIsAFullHeightSpikeAtItsColumn) {
    CharRingBuffer& alerts = engine().alertRingBuffer();
    alerts.setBufferStart(2999);
    alerts.data()[3][999] = 1;  // sample 1000: x = -300 + 1000 x 0.2 = -100, column 200
    show();
    const QImage image = view->grabFramebuffer();
    const QColor red(255, 0, 0);
    for (int y : {10, 100, 190}) {
        EXPECT_TRUE(near(image.pixelColor(200, y), red) || near(image.pixelColor(199, y), red))
            << y;
    }
    EXPECT_EQ(image.pixelColor(250, 30), QColor(0, 0, 0));
}

TEST_F(SingleDisplayGlTest, TheFrameTimerDrawsAtThePreferredRate) {
    show();
    const int before = view->framesDrawn();
    view->setPreferredFramesPerSecond(10);
    view->setPaused(false);
    loop_->advance(0.35);
    // The timer asks for frames; the window system paints them when it gets to them, which
    // takes a while on a loaded machine.
    EXPECT_TRUE(test::qWaitFor([&] { return view->framesDrawn() > before; }));
    view->setPaused(true);
    // A frame asked for before the pause may still be painted; then nothing more comes: a
    // second of the clock later, once the window system has handled what was asked of it.
    ASSERT_TRUE(test::waitForPostedEvents());
    const int paused = view->framesDrawn();
    loop_->advance(1.0);
    ASSERT_TRUE(test::waitForPostedEvents());
    EXPECT_EQ(view->framesDrawn(), paused);
}

TEST_F(LevelDisplayGlTest, TheDisplayOutlivesTheWidgetItWasPutIn) {
    auto window = std::make_unique<QWidget>();
    auto display = showPanel(*window);
    display->glView().grabFramebuffer();
    window.reset();
    display.reset();
}

void click(QWidget& widget, double x) {
    const QPointF at(x, 50);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
}

TEST_F(SingleDisplayGlTest, AClickStartsAReplayThereAndStopPlaybackEndsIt) {
    show();
    int started = 0;
    auto observer = NotificationCenter::defaultCenter().addObserver(
        kPlaybackStartedNotification, [&](const Notification&) { ++started; });

    click(*view, 300);  // no history to replay yet
    EXPECT_EQ(started, 0);
    EXPECT_FLOAT_EQ(renderer->playbackCursor(), 1.0f);

    view->setAudioHistoryAvailable(true);
    click(*view, 300);
    EXPECT_EQ(started, 1);
    EXPECT_FLOAT_EQ(renderer->playbackCursor(), 0.5f);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 7204864);
    EXPECT_EQ(view->replayBackground(), (LevelColor{0.15f, 0, 0, 1}));
    const QImage image = view->grabFramebuffer();
    EXPECT_TRUE(near(image.pixelColor(300, 100), QColor(255, 0, 0)) ||
                near(image.pixelColor(299, 100), QColor(255, 0, 0)));

    view->stopPlayback();
    EXPECT_FLOAT_EQ(renderer->playbackCursor(), 1.0f);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    EXPECT_EQ(view->replayBackground(), (LevelColor{0, 0, 0, 1}));

    UserSettingsManager::sharedInstance().setIsLocked(true);
    click(*view, 300);
    EXPECT_EQ(started, 1);
    EXPECT_FLOAT_EQ(renderer->playbackCursor(), 1.0f);
}

void release(QWidget& widget) {
    const QPointF at(10, 10);
    QMouseEvent up(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton,
                   Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &up);
}

TEST_F(LevelDisplayGlTest, ReleasingTheMouseOnThePanelDisplayRemovesItsOverlays) {
    QWidget window;
    auto display = showPanel(window);
    ClickableMTKView& panel = display->glView();
    QPointer<QWidget> divider = new QWidget;
    QPointer<QWidget> box = new QWidget;
    panel.setDivider(divider);
    panel.setSourceBox(box);
    EXPECT_EQ(divider->parentWidget(), &panel);
    EXPECT_TRUE(box->isVisible());
    release(panel);
    EXPECT_EQ(panel.divider(), nullptr);
    EXPECT_EQ(panel.sourceBox(), nullptr);
    EXPECT_TRUE(divider.isNull()) << "removed, not just forgotten";
    EXPECT_TRUE(box.isNull());
}

TEST_F(SingleDisplayGlTest, ReleasingTheMouseOnAZoomWindowKeepsItsOverlays) {
    show();
    QPointer<QWidget> divider = new QWidget;
    view->setDivider(divider);
    release(*view);
    EXPECT_EQ(view->divider(), divider.data());
    EXPECT_FALSE(divider.isNull());
}

TEST_F(LevelDisplayGlTest, ThePanelDisplayStartsNoReplay) {
    QWidget window;
    auto display = showPanel(window);
    display->glView().setAudioHistoryAvailable(true);
    click(display->view(), 100);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    display->start(10);
    EXPECT_EQ(display->glView().preferredFramesPerSecond(), 10);
    EXPECT_FALSE(display->glView().isPaused());
}

}  // namespace
}  // namespace quenbril
