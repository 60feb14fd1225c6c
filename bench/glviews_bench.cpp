// One frame of each OpenGL level view on the X server's OpenGL (llvmpipe under xvfb-run): the
// panel view with 64 strips (eight a row, 1024 x 1024 pixels) and the single-channel view with
// a 3000-column history (1500 x 400 pixels; random bytes, then a plausible history), each at
// line thickness 1 and 4. A frame is the
// line building plus the draw, waited for with glFinish; it prints the median and the worst.
// With --png DIR it saves each view's frame (and the waveform's) as a PNG there.
//
// It needs an X server with OpenGL; without a display it runs itself again under xvfb-run.

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/legacy_gl/GLPanelView.h"
#include "MonitorApp/views/legacy_gl/GPURendererWave.h"
#include "MonitorApp/views/legacy_gl/SingleEAGLView.h"
#include "bench/BenchSupport.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/views/SharedLevelDisplayServices.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 64;
const int kFrames = bench::shortOr(60, 3);

/// The views with their frame made callable, so that a frame can be timed without the
/// window's composition.
class TimedPanel : public GLPanelView {
  public:
    using GLPanelView::GLPanelView;
    using GLPanelView::paintGL;
};
class TimedSingle : public SingleEAGLView {
  public:
    using SingleEAGLView::paintGL;
    using SingleEAGLView::SingleEAGLView;
};

void setThickness(float thickness) {
    UserDefaults::standardUserDefaults().setObject(Value(thickness), "lineThickness");
    ColorHelper::sharedInstance().updateColors();
}

void report(const char* what, float thickness, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("  %-44s thickness %.0f: median %7.3f ms   worst %7.3f ms\n", what, thickness,
                bench::quantile(samples, 0.5), samples.back());
}

/// Times kFrames frames of a view, calling `step` before each.
template <typename View>
std::vector<double> timeFrames(View& view, const std::function<void(int)>& step) {
    std::vector<double> frames;
    view.makeCurrent();
    QOpenGLFunctions* gl = view.context()->functions();
    for (int i = 0; i < kFrames; ++i) {
        step(i);
        const auto start = std::chrono::steady_clock::now();
        view.paintGL();
        gl->glFinish();
        frames.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    view.doneCurrent();
    return frames;
}

/// Times kFrames calls of the line building alone.
std::vector<double> buildTimes(const std::function<void()>& build) {
    std::vector<double> times;
    for (int i = 0; i < kFrames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        build();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return times;
}

void save(const QImage& image, const std::string& dir, const char* name) {
    if (dir.empty()) return;
    const QString path = QDir(QString::fromStdString(dir)).filePath(QString::fromUtf8(name));
    if (image.save(path)) {
        std::printf("  saved %s\n", path.toStdString().c_str());
    } else {
        std::fprintf(stderr, "could not save %s\n", path.toStdString().c_str());
    }
}

void measurePanel(float thickness, const std::string& pngDir) {
    setThickness(thickness);
    QWidget window;
    window.resize(1024, 1024);
    TimedPanel view(sharedLevelDisplayServices());
    view.setParent(&window);
    view.setGeometry(0, 0, 1024, 1024);
    view.setLevelCount(kStrips);
    view.setLtcArray({7});
    window.show();
    QApplication::processEvents();
    view.grabFramebuffer();

    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 127);
    auto feed = [&](int) {
        for (int s = 0; s < kStrips; ++s) {
            view.levels()[s] = static_cast<int8_t>(byte(random));
            view.rfLevels()[s] = static_cast<int8_t>(byte(random));
        }
    };
    // Fill the rings once, so that every frame draws a full history.
    for (int i = 0; i < bench::shortOr(180, 3); ++i) {
        feed(i);
        view.grabFramebuffer();
    }
    report("GLPanelView, 64 strips x 180 points", thickness, timeFrames(view, feed));
    std::printf("    %zu vertices a frame\n", view.lines().vertices().size());
    GLLineBuilder lines;
    const GLPanelFrame frame = view.frame();
    report("  of which line building", thickness, buildTimes([&] {
               lines.reset(1024, 1024);
               buildGLPanelLines(frame, view.curves(), lines);
           }));
    if (thickness == 1.0f) save(view.grabFramebuffer(), pngDir, "glpanelview.png");
}

/// Channel 0's histories: random bytes in every column (the worst case: every segment spans
/// much of the height), or a plausible history (audio that moves, steady RF with a drop-out,
/// quality and the active antenna changing now and then, about one alert in a hundred columns).
void fillSingleHistories(bool randomBytes) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> level(0, 100);
    std::uniform_int_distribution<int> rf(-100, 60);
    std::uniform_int_distribution<int> step(-3, 3);
    std::uniform_int_distribution<int> percent(0, 99);
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    int audio = 50;
    int rfA = 40;
    int rfB = 30;
    for (int c = 0; c < 3000; ++c) {
        const int p = percent(random);
        int8_t alert = 0;
        if (randomBytes) {
            engine.levelRingBuffer().data()[0][c] = static_cast<int8_t>(level(random));
            engine.rfALevelRingBuffer().data()[0][c] = static_cast<int8_t>(rf(random));
            engine.rfBLevelRingBuffer().data()[0][c] = static_cast<int8_t>(rf(random));
            engine.qlRingBuffer().data()[0][c] = static_cast<int8_t>(percent(random) % 6);
            engine.rfDivLevelRingBuffer().data()[0][c] = static_cast<int8_t>(percent(random) % 4);
            alert = static_cast<int8_t>(p < 3 ? 1 : p < 5 ? 2 : 0);
        } else {
            audio = std::clamp(audio + 4 * step(random), 0, 100);
            rfA = std::clamp(rfA + step(random), 10, 60);
            rfB = std::clamp(rfB + step(random), 10, 60);
            const bool dropOut = c % 700 > 640;
            engine.levelRingBuffer().data()[0][c] = static_cast<int8_t>(audio);
            engine.rfALevelRingBuffer().data()[0][c] = static_cast<int8_t>(dropOut ? -100 : rfA);
            engine.rfBLevelRingBuffer().data()[0][c] = static_cast<int8_t>(rfB);
            engine.qlRingBuffer().data()[0][c] = static_cast<int8_t>(5 - (c / 250) % 3);
            engine.rfDivLevelRingBuffer().data()[0][c] = static_cast<int8_t>(1 + (c / 40) % 2);
            alert = static_cast<int8_t>(p == 0 ? 1 : p == 1 ? 2 : 0);
        }
        engine.alertRingBuffer().data()[0][c] = alert;
    }
}

void measureSingle(float thickness, bool randomBytes, const std::string& pngDir) {
    setThickness(thickness);
    fillSingleHistories(randomBytes);
    QWidget window;
    window.resize(1500, 400);
    TimedSingle view(PELAudioEngine::sharedInstance(), sharedLevelDisplayServices());
    view.setParent(&window);
    view.setGeometry(0, 0, 1500, 400);
    window.show();
    QApplication::processEvents();
    view.grabFramebuffer();
    report(randomBytes ? "SingleEAGLView, 3000 columns of random bytes"
                       : "SingleEAGLView, 3000 columns, plausible",
           thickness, timeFrames(view, [](int i) {
               PELAudioEngine::sharedInstance().levelRingBuffer().setBufferStart(i * 7);
           }));
    std::printf("    %zu vertices a frame\n", view.lines().vertices().size());
    GLLineBuilder lines;
    const SingleEAGLFrame frame = view.frame();
    report("  of which line building", thickness, buildTimes([&] {
               lines.reset(1500, 400);
               buildSingleEAGLLines(frame, lines);
           }));
    if (thickness == 1.0f && !randomBytes) {
        save(view.grabFramebuffer(), pngDir, "singleeaglview.png");
    }
}

void saveWave(const std::string& pngDir) {
    if (pngDir.empty()) return;
    QWidget window;
    window.resize(800, 300);
    ClickableMTKView view(sharedLevelDisplayServices(), &window);
    view.setGeometry(0, 0, 800, 300);
    GPURendererWave wave(view, 800);
    view.setDelegate(&wave);
    window.show();
    QApplication::processEvents();
    std::vector<float> samples(800);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(std::sin(2 * M_PI * 3 * static_cast<double>(i) / 800) *
                                        std::exp(-static_cast<double>(i) / 600));
    }
    wave.drawBuffer(samples.data(), 800);
    save(view.grabFramebuffer(), pngDir, "gpurendererwave.png");
    view.setDelegate(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    bench::runUnderXvfbWithoutDisplay(argv);
    std::string pngDir;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--png") == 0) pngDir = argv[i + 1];
    }
    bench::TemporarySettingsFolder settings("glviews-bench");
    QApplication app(argc, argv);
    if (!levelDisplaysCanDraw()) {
        std::fprintf(stderr, "No OpenGL 3.3 core context here; run under xvfb-run.\n");
        return 1;
    }
    if (!pngDir.empty()) QDir().mkpath(QString::fromStdString(pngDir));
    {
        QWidget probe;
        ClickableMTKView view(sharedLevelDisplayServices(), &probe);
        probe.show();
        QApplication::processEvents();
        view.makeCurrent();
        const auto* renderer =
            reinterpret_cast<const char*>(view.context()->functions()->glGetString(GL_RENDERER));
        std::printf("OpenGL renderer: %s\n", renderer ? renderer : "unknown");
        view.doneCurrent();
    }
    UserSettingsManager::sharedInstance().setColumns(8);
    ColorHelper::saveColorForKey("colorForAudio", Color{0, 1, 0, 1});
    ColorHelper::saveColorForKey("colorForRF", Color{1, 0, 1, 1});
    std::printf("ms per frame (line building + draw + glFinish), %d frames:\n", kFrames);
    measurePanel(1.0f, pngDir);
    measurePanel(4.0f, pngDir);
    for (bool randomBytes : {true, false}) {
        measureSingle(1.0f, randomBytes, pngDir);
        measureSingle(4.0f, randomBytes, pngDir);
    }
    saveWave(pngDir);
    return 0;
}
