// One frame of the main window's panel display: 64 strips of 128 columns, eight a row (a drawable
// of 1024 x 1024 pixels), with line thickness 1 and 4. It times the vertex fill alone and the fill
// plus the draw, waited for with glFinish, and prints the median and the worst of each.
//
// It needs an X server with OpenGL; without a display it runs itself again under xvfb-run.

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURenderer.h"
#include "MonitorApp/views/PanelLevelDisplay.h"
#include "bench/BenchSupport.h"
#include "foundation/UserDefaults.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 64;
const int kFrames = bench::shortOr(60, 3);

double millisecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("  %-22s median %7.3f ms   worst %7.3f ms\n", what, bench::quantile(samples, 0.5),
                samples.back());
}

void fillHistories() {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(-128, 127);
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    for (CharRingBuffer* history : {&engine.levelRingBuffer(), &engine.rfLevelRingBuffer()}) {
        for (int channel = 0; channel < kStrips; ++channel) {
            for (int column = 0; column < history->bufferLen(); ++column) {
                history->data()[channel][column] = static_cast<int8_t>(byte(random));
            }
        }
    }
}

void measure(float thickness) {
    UserDefaults::standardUserDefaults().setObject(Value(thickness), "lineThickness");
    ColorHelper::sharedInstance().updateColors();

    QWidget window;
    window.resize(1024, 1024);
    PanelLevelDisplay display(PELAudioEngine::sharedInstance(),
                              UserSettingsManager::sharedInstance(), ColorHelper::sharedInstance());
    display.view().setParent(&window);
    display.view().setGeometry(0, 0, 1024, 1024);
    display.renderer().setLevelCount(kStrips);
    window.show();
    QApplication::processEvents();
    display.glView().grabFramebuffer();  // the first frame makes the GL objects

    ClickableMTKView& view = display.glView();
    GPURenderer& renderer = display.gpuRenderer();
    std::vector<double> fills;
    std::vector<double> frames;
    view.makeCurrent();
    QOpenGLFunctions* gl = view.context()->functions();
    for (int i = 0; i < kFrames; ++i) {
        PELAudioEngine::sharedInstance().levelRingBuffer().setBufferStart(i * 7);
        fills.push_back(
            millisecondsOf([&] { renderer.updateState(view.drawableSize(), view.height()); }));
        frames.push_back(millisecondsOf([&] {
            renderer.draw(view);
            gl->glFinish();
        }));
    }
    view.doneCurrent();

    std::printf("thickness %.0f (%u layers), %d strips x 128 columns, %d x %d pixels:\n", thickness,
                renderer.lineWidth(), kStrips, static_cast<int>(view.drawableSize().width),
                static_cast<int>(view.drawableSize().height));
    report("vertex fill", fills);
    report("fill + draw + glFinish", frames);
}

}  // namespace

int main(int argc, char** argv) {
    bench::runUnderXvfbWithoutDisplay(argv);
    bench::TemporarySettingsFolder settings("level-bench");
    QApplication app(argc, argv);
    if (!levelDisplaysCanDraw()) {
        std::fprintf(stderr, "No OpenGL 3.3 core context here; run under xvfb-run.\n");
        return 1;
    }
    const char* renderer = nullptr;
    {
        QWidget probe;
        ClickableMTKView view(&probe);
        probe.show();
        QApplication::processEvents();
        view.makeCurrent();
        renderer =
            reinterpret_cast<const char*>(view.context()->functions()->glGetString(GL_RENDERER));
        std::printf("OpenGL renderer: %s\n", renderer ? renderer : "unknown");
        view.doneCurrent();
    }
    UserSettingsManager::sharedInstance().setColumns(8);
    fillHistories();
    measure(1.0f);
    measure(4.0f);
    return 0;
}
