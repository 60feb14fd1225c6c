// Prints what the server role's engine costs on its hot paths: the capture callback for 128
// channels of 128 frames with four busy client slots (each mixing every channel), and one
// analysis pass over 128 strips of a 512-frame block. Allocations inside the audio callbacks are
// counted by a replaced operator new.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "BenchSupport.h"
#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/audio/ServerRoleLinks.h"
#include "MonitorApp/audio/ServerRoleStrips.h"
#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/ManualRunLoop.h"
#include "platform/audio/FakeAudioBackend.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

thread_local bool countingAllocations = false;
std::atomic<uint64_t> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    if (countingAllocations) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int kStrips = 128;
constexpr int kFrames = 128;

class Strips : public ServerRoleStrips {
  public:
    Strips() : models_(kStrips), states_(kStrips) {
        for (int k = 0; k < kStrips; ++k) {
            models_[k].setAudioInput(k);
            models_[k].setScpEnabled(true);
            models_[k].setPan(k % 201 - 100);
            models_[k].setGain(k % 7 - 3);
            states_[k].setChannelState(ChannelStripState::kActive);
        }
    }
    int stripCount() const override { return kStrips; }
    const ChannelStripModel& stripModel(int i) const override { return models_[i]; }
    ChannelStripState& stripState(int i) override { return states_[i]; }
    void updateLevels(const uint8_t*) override {}
    const ChannelStripModel& model(int i) const { return models_[i]; }
    const ChannelStripState& state(int i) const { return states_[i]; }

  private:
    std::vector<ChannelStripModel> models_;
    std::vector<ChannelStripState> states_;
};

// Four busy slots heard on this machine, each mixing all 128 strips.
class Links : public ServerRoleLinks {
  public:
    explicit Links(const Strips& strips) : strips_(strips) {
        for (auto& ring : rings_) ring = std::make_unique<BlockRingBuffer>(128, 6);
    }
    int clientCount() const override { return 4; }
    bool clientIsFree(int) const override { return false; }
    BlockRingBuffer* clientBlockRing(int slot) override { return rings_[slot].get(); }
    std::optional<int> clientOutputInStream(int slot) const override { return 2 * slot; }
    std::vector<ClientStrip> clientStrips(int) const override {
        std::vector<ClientStrip> list;
        for (int k = 0; k < kStrips; ++k) list.push_back({&strips_.model(k), &strips_.state(k)});
        return list;
    }

  private:
    const Strips& strips_;
    std::unique_ptr<BlockRingBuffer> rings_[4];
};

std::vector<std::vector<float>> signal(int frames, int offset) {
    std::vector<std::vector<float>> channels(kStrips, std::vector<float>(frames));
    for (int k = 0; k < kStrips; ++k) {
        for (int i = 0; i < frames; ++i) {
            channels[k][i] =
                static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * (100.0 + 37.0 * k) *
                                                  (offset + i) / 48000.0));
        }
    }
    return channels;
}

void report(const char* what, std::vector<double> samples, double target) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-52s median %7.1f us  p99 %7.1f us  max %7.1f us  (target p99 <= %.0f us)\n",
                what, bench::quantile(samples, 0.5), bench::quantile(samples, 0.99), samples.back(),
                target);
}

}  // namespace

int main() {
    bench::TemporarySettingsFolder folder("serverrole-bench");
    ManualRunLoop loop(800000000.0);
    RunLoop::setMain(&loop);
    FakeAudioBackend backend;
    AudioBackend::setShared(&backend);
    backend.setDefaultInputDevice(backend.addDevice("Interface", kStrips, 0));

    // The settings exist long before any capture in the application.
    UserSettingsManager::sharedInstance();
    Strips strips;
    Links links(strips);
    auto microphone = std::make_unique<ATMicrophone>(nullptr, backend);
    auto engine = std::make_unique<PELAudioEngine>(false, 3000);
    engine->setMicrophone(microphone.get());
    engine->setStrips(&strips);
    engine->setLinks(&links);
    engine->initializeEngineWithCurrentDevices();
    engine->mapChannels();

    // The capture callback, as the input unit calls it, with the output taking the blocks.
    const auto block = signal(kFrames, 0);
    std::vector<const float*> in;
    for (const auto& channel : block) in.push_back(channel.data());
    std::vector<std::vector<float>> out(8, std::vector<float>(kFrames));
    std::vector<float*> outPointers;
    for (auto& channel : out) outPointers.push_back(channel.data());
    std::vector<double> capture;
    const int kCalls = bench::shortOr(20000, 500);
    for (int call = 0; call < kCalls; ++call) {
        const auto start = Clock::now();
        countingAllocations = true;
        engine->processCapture(in.data(), kFrames, kStrips);
        countingAllocations = false;
        capture.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        countingAllocations = true;
        engine->output(outPointers, kFrames);
        countingAllocations = false;
        if (call % 4 == 3) engine->processVisuals();
    }
    report("capture callback, 128 ch x 128 frames, 4 slot mixes", capture, 500.0);
    std::printf("allocations in %d capture and output callbacks: %llu\n", kCalls,
                static_cast<unsigned long long>(allocations.load()));

    // One analysis tick over a full 512-frame block of 128 strips (every strip analysed).
    const auto analysis = signal(512, 4096);
    std::vector<const float*> analysisIn;
    for (const auto& channel : analysis) analysisIn.push_back(channel.data());
    std::vector<double> visuals;
    for (int round = 0; round < bench::shortOr(2000, 50); ++round) {
        for (int piece = 0; piece < 4; ++piece) {
            std::vector<const float*> at;
            for (const float* channel : analysisIn) at.push_back(channel + piece * kFrames);
            engine->processCapture(at.data(), kFrames, kStrips);
        }
        const auto start = Clock::now();
        engine->processVisuals();
        visuals.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    report("processVisuals, 128 strips x 512 frames", visuals, 2000.0);

    engine->setLinks(nullptr);
    engine.reset();
    microphone.reset();
    AudioBackend::setShared(nullptr);
    RunLoop::setMain(nullptr);
    return 0;
}
