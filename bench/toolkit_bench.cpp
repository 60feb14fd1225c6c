// The audio toolkit's figures: the biquad per sample (blocks of 128 and 4096) against a plain
// direct-form loop; the spectrum per sample at 512, 1024 and 4096 against a bare KissFFT forward
// transform; the 1024-point waveform of a 10-minute 48 kHz stereo WAV; the file player's render
// callback (p99, allocations) on the fake backend; and a redraw of the OpenGL plot with 8192
// filled points.
//
// The redraw needs an X server with OpenGL; without a display it runs itself again under
// xvfb-run.

#include <kiss_fftr.h>
#include <sndfile.h>

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFFT.h"
#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/BQLowpassFilter.h"
#include "MonitorApp/ATAudio/players/ATAudioPlayer.h"
#include "MonitorApp/ATAudio/ui/ATAudioPlotGL.h"
#include "bench/AllocationCounter.h"
#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "platform/audio/FakeAudioBackend.h"

using namespace quenbril;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<float> noise(size_t count) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> samples(count);
    for (float& s : samples) s = uniform(random);
    return samples;
}

/// The same difference equation as the filter, written the plainest way: a function of its
/// own (so the loop's state stays in registers rather than in the caller's frame), with the
/// state carried from block to block.
struct DirectForm {
    float b0, b1, b2, a1, a2;
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

__attribute__((noinline)) void runDirectForm(DirectForm& f, float* data, int n) {
    const float b0 = f.b0, b1 = f.b1, b2 = f.b2, a1 = f.a1, a2 = f.a2;
    float x1 = f.x1, x2 = f.x2, y1 = f.y1, y2 = f.y2;
    for (int i = 0; i < n; ++i) {
        const float x = data[i];
        const float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        data[i] = y;
    }
    f.x1 = x1;
    f.x2 = x2;
    f.y1 = y1;
    f.y2 = y2;
}

/// Median nanoseconds per sample of `call` over blocks of `block` samples, 2^23 samples a round.
template <typename Call>
double nanosecondsPerSample(int block, Call call) {
    const int blocks = bench::shortOr(1 << 23, 1 << 16) / block;
    std::vector<double> rounds;
    for (int r = 0; r < bench::shortOr(7, 1); ++r) {
        const auto start = Clock::now();
        for (int b = 0; b < blocks; ++b) call();
        rounds.push_back(secondsSince(start) * 1e9 / (static_cast<double>(blocks) * block));
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

void biquad() {
    std::printf("Biquad (low-pass 50 Hz, Q 8, 48 kHz), ns per sample:\n");
    for (int block : {128, 4096}) {
        auto data = noise(static_cast<size_t>(block));
        BQLowpassFilter filter(48000.0f);
        filter.setQ(8.0f);
        filter.setCornerFrequency(50.0f);
        const auto& c = filter.coefficients();
        DirectForm plain{c[0], c[1], c[2], c[3], c[4]};
        // Fresh noise keeps denormals out of both.
        const auto source = data;
        const double ours = nanosecondsPerSample(block, [&] {
            std::copy(source.begin(), source.end(), data.begin());
            filter.filterData(data.data(), static_cast<uint32_t>(block), 1);
        });
        const double bare = nanosecondsPerSample(block, [&] {
            std::copy(source.begin(), source.end(), data.begin());
            runDirectForm(plain, data.data(), block);
        });
        std::printf("  block %4d: BQDSP %5.2f   direct form %5.2f   ratio %4.2fx\n", block, ours,
                    bare, ours / bare);
    }
}

void spectrum() {
    std::printf("Spectrum, ns per sample:\n");
    ATAudioFFT fft(4096, 44100.0f);
    for (int n : {512, 1024, 4096}) {
        const auto data = noise(static_cast<size_t>(n));
        const double ours = nanosecondsPerSample(
            n, [&] { fft.computeFFTWithBuffer(data.data(), static_cast<uint32_t>(n)); });
        kiss_fftr_cfg plan = kiss_fftr_alloc(n, 0, nullptr, nullptr);
        std::vector<kiss_fft_cpx> out(static_cast<size_t>(n / 2 + 1));
        const double bare =
            nanosecondsPerSample(n, [&] { kiss_fftr(plan, data.data(), out.data()); });
        kiss_fftr_free(plan);
        std::printf("  N %4d: computeFFTWithBuffer %6.2f   bare forward %5.2f   ratio %4.2fx\n", n,
                    ours, bare, ours / bare);
    }
}

std::string writeTenMinutes(const std::string& folder) {
    const std::string path = folder + "/ten-minutes.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> block(48000 * 2);
    double phase = 0.0;
    for (int second = 0; second < bench::shortOr(600, 10); ++second) {
        for (size_t i = 0; i < block.size(); i += 2) {
            block[i] = block[i + 1] = static_cast<float>(0.5 * std::sin(phase));
            phase += 2.0 * std::numbers::pi * 440.0 / 48000.0;
        }
        sf_writef_float(out, block.data(), 48000);
    }
    sf_close(out);
    return path;
}

void waveform(const std::string& folder) {
    const std::string path = writeTenMinutes(folder);
    std::printf("Waveform of a 10-minute 48 kHz stereo WAV, 1024 points:\n");
    for (double rate : {ATAudioFile::kDefaultClientFormatSampleRate, 48000.0}) {
        auto file = ATAudioFile::audioFileWithURL(
            path, nullptr, ATAudioUtilities::stereoFloatNonInterleavedFormatWithSampleRate(rate));
        const auto start = Clock::now();
        auto data = file->getWaveformData(1024);
        std::printf("  client %5.0f Hz: %.3f s (%u points)\n", rate, secondsSince(start),
                    data ? data->bufferSize() : 0u);
    }
}

void playerRender(const std::string& folder) {
    const std::string path = folder + "/ten-minutes.wav";
    std::printf("File player render callback, 128-frame periods, 20000 periods:\n");
    for (double deviceRate : {44100.0, 48000.0}) {
        ManualRunLoop loop(800000000.0);
        RunLoop::setMain(&loop);
        FakeAudioBackend backend;
        backend.setDefaultOutputDevice(backend.addDevice("Out", 0, 2, deviceRate));
        std::vector<double> times;
        uint64_t counted = 0;
        {
            ATAudioPlayer player(path, nullptr, backend);
            player.play();
            auto* stream = backend.lastStream();
            std::thread audio([&] {
                const uint64_t before = bench::allocations.load();
                for (int i = 0; i < bench::shortOr(20000, 200); ++i) {
                    while (player.framesReadAhead() < 256) std::this_thread::yield();
                    bench::countingAllocations = true;
                    const auto start = Clock::now();
                    stream->pump(128);
                    const auto end = Clock::now();
                    bench::countingAllocations = false;
                    times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
                }
                counted = bench::allocations.load() - before;
            });
            audio.join();
            player.pause();
        }
        RunLoop::setMain(nullptr);
        std::sort(times.begin(), times.end());
        std::printf(
            "  device %5.0f Hz%s: p50 %5.2f us  p99 %5.2f us  max %7.2f us  allocations %llu\n",
            deviceRate, deviceRate == 44100.0 ? "          " : " (converted)",
            bench::quantile(times, 0.5), bench::quantile(times, 0.99), times.back(),
            static_cast<unsigned long long>(counted));
    }
}

/// The plot with its frame made callable, so that a redraw can be timed on its own.
class TimedPlot : public ATAudioPlotGL {
  public:
    using ATAudioPlotGL::paintGL;
};

/// Median, p99 and worst milliseconds of 120 redraws of 4096 filled samples (8192 points):
/// a 440 Hz tone at half scale, or full-scale noise (every triangle spans the height).
void glRedraw(int samples, bool mirrored, bool noisy) {
    TimedPlot plot;
    if (samples != 4) {
        QSurfaceFormat format = plot.format();
        format.setSamples(samples);
        plot.setFormat(format);
    }
    plot.resize(1200, 400);
    plot.show();
    QApplication::processEvents();
    plot.setShouldFill(true);
    plot.setShouldMirror(mirrored);
    std::vector<float> data = noise(4096);
    if (!noisy) {
        for (size_t i = 0; i < data.size(); ++i)
            data[i] =
                static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 440.0 * i / 48000.0));
    }
    std::vector<double> times;
    plot.makeCurrent();
    QOpenGLFunctions* gl = plot.context()->functions();
    for (int frame = 0; frame < bench::shortOr(120, 3); ++frame) {
        plot.setSampleData(data.data(), 4096);
        const auto start = Clock::now();
        plot.paintGL();
        gl->glFinish();
        times.push_back(secondsSince(start) * 1000.0);
    }
    const std::string renderer = reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER));
    plot.doneCurrent();
    std::sort(times.begin(), times.end());
    std::printf(
        "  %u points, %s, %dx MSAA, %-8s (%s): median %6.3f ms  p99 %6.3f ms  worst %6.3f ms\n",
        plot.pointCount(), noisy ? "noise" : "tone ", samples, mirrored ? "mirrored" : "single",
        renderer.c_str(), bench::quantile(times, 0.5), bench::quantile(times, 0.99), times.back());
}

void glRedraws() {
    ManualRunLoop loop(800000000.0);
    RunLoop::setMain(&loop);
    std::printf("OpenGL plot redraw, filled, 1200 x 400:\n");
    glRedraw(4, false, false);
    glRedraw(4, true, false);
    glRedraw(4, false, true);
    glRedraw(0, false, true);
    RunLoop::setMain(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    bench::runUnderXvfbWithoutDisplay(argv);
    QApplication app(argc, argv);
    std::string folder = "/tmp/quenbril-toolkit-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
    biquad();
    spectrum();
    waveform(folder);
    playerRender(folder);
    glRedraws();
    std::filesystem::remove_all(folder);
    return 0;
}
