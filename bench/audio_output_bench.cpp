// The audio callbacks' cost on the fake backend: the engine's stream through ATOutput (plain, and
// converting for a 44.1 kHz device) and ATMicrophone on 128 channels with a map. Prints p50, p99
// and max in microseconds per callback and the allocations made inside the callbacks (counted by
// a replaced operator new). Where jackd runs here, a 10 s run on a dummy JACK server prints the
// callback load and the under-runs.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <numbers>
#include <thread>
#include <vector>

#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "bench/AllocationCounter.h"
#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "platform/audio/FakeAudioBackend.h"
#include "tests/support/ChildProcess.h"

namespace quenbril::bench {
namespace {

const int kCallbacks = bench::shortOr(100000, 2000);
constexpr int kFrames = 128;

struct Figures {
    double p50 = 0, p99 = 0, max = 0;
    uint64_t allocations = 0;
};

/// Runs `callback` kCallbacks times on a thread of its own, after `prepare` each time (untimed).
template <typename Prepare, typename Callback>
Figures measure(Prepare prepare, Callback callback) {
    std::vector<double> times;
    times.reserve(kCallbacks);
    uint64_t counted = 0;
    std::thread audio([&] {
        const uint64_t before = allocations.load();
        for (int i = 0; i < kCallbacks; ++i) {
            prepare();
            countingAllocations = true;
            const auto start = std::chrono::steady_clock::now();
            callback();
            const auto end = std::chrono::steady_clock::now();
            countingAllocations = false;
            times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        counted = allocations.load() - before;
    });
    audio.join();
    std::sort(times.begin(), times.end());
    return {quantile(times, 0.5), quantile(times, 0.99), times.back(), counted};
}

void print(const char* name, const Figures& f) {
    std::printf("%-34s p50 %6.2f us  p99 %6.2f us  max %8.2f us  allocations %llu\n", name, f.p50,
                f.p99, f.max, static_cast<unsigned long long>(f.allocations));
}

/// Writes a 1 kHz tone into the ring whenever it holds less than 2600 frames.
class Producer {
  public:
    explicit Producer(RingBuffer& ring) : ring_(ring), thread_([this] { run(); }) {}
    ~Producer() {
        stop_ = true;
        thread_.join();
    }
    void run() {
        std::vector<float> block(kFrames);
        const float* channels[2] = {block.data(), block.data()};
        while (!stop_) {
            if (ring_.dataInBuffer() >= 2600) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            for (float& s : block) {
                s = 0.5f * static_cast<float>(std::sin(phase_));
                phase_ += 2.0 * std::numbers::pi * 1000.0 / 48000.0;
            }
            ring_.produce(channels, kFrames, 2);
        }
    }

  private:
    RingBuffer& ring_;
    double phase_ = 0.0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

Figures outputRun(double deviceRate) {
    FakeAudioBackend backend;
    backend.setDefaultOutputDevice(backend.addDevice("Out", 0, 2, deviceRate));
    AudioBackend::setShared(&backend);
    PELAudioEngine engine(true, 3000);
    engine.startClient();
    Producer producer(engine.clientRing());
    auto* stream = backend.lastStream();
    RingBuffer& ring = engine.clientRing();
    Figures figures = measure(
        [&] {
            while (ring.dataInBuffer() < 2000) std::this_thread::yield();
        },
        [&] { stream->pump(kFrames); });
    engine.stopListening();
    AudioBackend::setShared(nullptr);
    return figures;
}

class NoDelegate : public ATMicrophoneDelegate {};

Figures microphoneRun() {
    FakeAudioBackend backend;
    backend.setDefaultInputDevice(backend.addDevice("In", 128, 0));
    AudioBackend::setShared(&backend);
    NoDelegate delegate;
    ATMicrophone microphone(&delegate);
    std::vector<int> reversed;
    for (int c = 127; c >= 0; --c) reversed.push_back(c);
    microphone.mapChannels(reversed);
    microphone.startFetchingAudio();
    auto* stream = backend.lastStream();
    for (size_t c = 0; c < stream->inputs.size(); ++c) {
        std::fill(stream->inputs[c].begin(), stream->inputs[c].end(), static_cast<float>(c));
    }
    Figures figures = measure([] {}, [&] { stream->pump(kFrames); });
    microphone.stopFetchingAudio();
    AudioBackend::setShared(nullptr);
    return figures;
}

void jackRun() {
    if (::access("/usr/bin/jackd", X_OK) != 0) {
        std::printf("JACK run skipped: no jackd\n");
        return;
    }
    const std::string name = "quenbril-bench-" + std::to_string(::getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    quenbril::test::ChildProcess server({"/usr/bin/jackd", "-r", "-n", name, "-d", "dummy", "-r",
                                         "48000", "-p", "128", "-C", "8", "-P", "8"},
                                        {});
    AudioBackend& backend = AudioBackend::shared();
    for (int i = 0; i < 100 && !ATAudioDevice::currentOutputDevice(backend); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        backend.refresh();
    }
    if (!ATAudioDevice::currentOutputDevice(backend)) {
        std::printf("JACK run skipped: the server did not come up\n");
        return;
    }
    {
        PELAudioEngine engine(true, 3000);
        Producer producer(engine.clientRing());
        engine.startClient();
        const auto* out = engine.stereoOut();
        // The first second settles the stream (the server reports the periods missed while
        // the client joined); the 10 s after it (1 s in a short run) are measured.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const int seconds = shortOr(10, 1);
        const uint64_t underrunsBefore = out->underruns();
        engine.clientRing().log().flush();
        double loadSum = 0.0, loadMax = 0.0;
        for (int second = 0; second < seconds; ++second) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const double load = out->load();
            loadSum += load;
            loadMax = std::max(loadMax, load);
        }
        std::printf(
            "JACK %d s at 48 kHz, 128 frames: load mean %.2f%% max %.2f%%, host "
            "under-runs %llu, stream ring under-runs %u\n",
            seconds, loadSum * 100.0 / seconds, loadMax * 100.0,
            static_cast<unsigned long long>(out->underruns() - underrunsBefore),
            engine.clientRing().log().pending(RingLog::Line::RingFilling));
        engine.stopListening();
    }
    server.stop();
}

}  // namespace
}  // namespace quenbril::bench

int main() {
    using namespace quenbril::bench;
    quenbril::ManualRunLoop loop(800000000.0);
    quenbril::RunLoop::setMain(&loop);
    std::printf("audio_output_bench: %d callbacks of %d frames (budget 2667 us at 48 kHz)\n",
                kCallbacks, kFrames);
    print("output, 48 kHz device", outputRun(48000.0));
    print("output, 44.1 kHz device (converted)", outputRun(44100.0));
    print("microphone, 128 ch mapped", microphoneRun());
    // What is printed so far goes out before the JACK run's processes start.
    std::fflush(stdout);
    jackRun();
    quenbril::RunLoop::setMain(nullptr);
    return 0;
}
