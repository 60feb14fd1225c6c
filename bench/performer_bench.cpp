// The performer window's history: one strip's five minutes drawn into a window whose history
// is 1,500 points wide, at zoom 1.0 and 6.7. It times one frame (vertex fill and draw, waited
// for with glFinish) and then lets the window run as the application does, drawing ten frames a
// second with its 0.1 s and 0.5 s timers, and reports the main thread's share of one core
// (CLOCK_THREAD_CPUTIME_ID over the wall time). Targets: 10 ms a frame, 15 % of a core.
//
// It needs an X server with OpenGL; without a display it runs itself again under xvfb-run.

#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/panels/ui/EKGScrollView.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURendererSingle.h"
#include "bench/BenchSupport.h"
#include "foundation/RunLoop.h"
#include "foundation/qt/QtRunLoop.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

using namespace quenbril;

namespace {

const int kFrames = bench::shortOr(60, 3);
constexpr int kHistoryWidth = 1500;
const double kRunSeconds = bench::shortOr(5.0, 0.5);

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void fillHistories() {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 100);
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    for (CharRingBuffer* history :
         {&engine.levelRingBuffer(), &engine.rfALevelRingBuffer(), &engine.rfBLevelRingBuffer(),
          &engine.qlRingBuffer(), &engine.rfDivLevelRingBuffer()}) {
        for (int column = 0; column < history->bufferLen(); ++column) {
            history->data()[0][column] = static_cast<int8_t>(byte(random));
        }
    }
}

/// A window whose history's visible part is 1,500 points wide.
void sizeForHistory(PlayerViewController& window) {
    for (int i = 0; i < 3; ++i) {
        const int extra = window.width() - window.scrollView()->clipWidth();
        window.resize(kHistoryWidth + extra, 600);
        QApplication::processEvents();
    }
}

void frameTimes(PlayerViewController& window, float zoom) {
    window.setZoomValue(zoom);
    QApplication::processEvents();
    ClickableMTKView& view = *window.scrollView()->mtkView();
    GPURendererSingle& renderer = *window.scrollView()->renderer();
    view.grabFramebuffer();
    view.makeCurrent();
    QOpenGLFunctions* gl = view.context()->functions();
    std::vector<double> frames;
    std::vector<double> fills;
    const double ratio = view.devicePixelRatioF();
    for (int i = 0; i < kFrames; ++i) {
        PELAudioEngine::sharedInstance().levelRingBuffer().setBufferStart(i * 7);
        const auto fillStart = std::chrono::steady_clock::now();
        renderer.updateState(view.drawableSize(), view.height(), view.documentWidth() * ratio,
                             view.documentOffset() * ratio);
        fills.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - fillStart)
                .count());
        const auto start = std::chrono::steady_clock::now();
        renderer.draw(view);
        gl->glFinish();
        frames.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    view.doneCurrent();
    std::sort(frames.begin(), frames.end());
    std::sort(fills.begin(), fills.end());
    std::printf("zoom %.1f: history %d points in sight of a %.0f-point document (%d x %d px)\n",
                zoom, window.scrollView()->clipWidth(), window.scrollView()->documentWidth(),
                static_cast<int>(view.drawableSize().width),
                static_cast<int>(view.drawableSize().height));
    std::printf("  vertex fill             median %7.3f ms   worst %7.3f ms\n",
                bench::quantile(fills, 0.5), fills.back());
    std::printf("  fill + draw + glFinish  median %7.3f ms   worst %7.3f ms   (target <= 10 ms)\n",
                bench::quantile(frames, 0.5), frames.back());
}

void mainThreadShare(PlayerViewController& window, float zoom) {
    window.setZoomValue(zoom);
    ClickableMTKView& view = *window.scrollView()->mtkView();
    const int framesBefore = view.framesDrawn();
    QElapsedTimer wall;
    const double cpuStart = threadSeconds();
    wall.start();
    // The application's own event loop, as it runs with the window open.
    QEventLoop running;
    QTimer::singleShot(static_cast<int>(kRunSeconds * 1000), &running, &QEventLoop::quit);
    running.exec();
    const double cpu = threadSeconds() - cpuStart;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf(
        "zoom %.1f, running %.1f s: %d frames (%.1f a second), main thread %.1f %% of "
        "one core   (target <= 15 %%)\n",
        zoom, seconds, view.framesDrawn() - framesBefore,
        (view.framesDrawn() - framesBefore) / seconds, 100.0 * cpu / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    bench::runUnderXvfbWithoutDisplay(argv);
    bench::TemporarySettingsFolder settings("performer-bench");
    QApplication app(argc, argv);
    QtRunLoop loop;
    RunLoop::setMain(&loop);
    if (!levelDisplaysCanDraw()) {
        std::fprintf(stderr, "No OpenGL 3.3 core context here; run under xvfb-run.\n");
        return 1;
    }
    fillHistories();
    ChannelStripManager::sharedInstance().initFromProperyArray(
        Array{Dictionary{{"csID", int64_t{1}},
                         {"name", "Bench"},
                         {"audioInput", 0},
                         {"channelEnabled", true},
                         {"audioHistory", true}}});
    {
        PlayerViewController window(sharedPanelServices());
        window.setReadOnly(true);
        window.setChannelIndex(0);
        window.updateTitle(0);
        window.show();
        sizeForHistory(window);
        if (!window.scrollView()->mtkView()) {
            std::fprintf(stderr, "The history has no GL view.\n");
            return 1;
        }
        frameTimes(window, 1.0f);
        frameTimes(window, 6.7f);
        mainThreadShare(window, 1.0f);
        mainThreadShare(window, 6.7f);
        window.close();
    }
    ChannelStripManager::resetSharedInstance();
    RunLoop::setMain(nullptr);
    return 0;
}
