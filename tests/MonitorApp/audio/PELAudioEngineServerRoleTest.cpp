#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "AudioTestSupport.h"
#include "MonitorApp/ATAudio/ATStreamWatch.h"
#include "MonitorApp/audio/FaultDetectors.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "ServerRoleFakes.h"
#include "foundation/UserDefaults.h"
#include "platform/audio/FakeAudioBackend.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril::test {
namespace {

// The server role on a fake eight-input interface with its own settings and a virtual clock.
class PELAudioEngineServerRoleTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-serverrole-XXXXXX"));
        AudioBackend::setShared(&backend_);
        backend_.setDefaultInputDevice(backend_.addDevice("Eight", 8, 0));
    }
    void TearDown() override {
        engine_.reset();
        microphone_.reset();
        AudioBackend::setShared(nullptr);
        UserSettingsManager::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
        leaveTemporarySettings();
    }

    /// A server-role engine set up on the interface and capturing one channel per strip.
    PELAudioEngine& start(int strips = 8) {
        strips_.resize(strips);
        microphone_ = std::make_unique<ATMicrophone>(nullptr, backend_);
        engine_ = std::make_unique<PELAudioEngine>(false, 3000);
        engine_->setMicrophone(microphone_.get());
        engine_->setStrips(&strips_);
        engine_->setLinks(&links_);
        EXPECT_EQ(engine_->initializeEngineWithCurrentDevices(), 8);
        engine_->mapChannels();
        return *engine_;
    }
    FakeAudioBackend::FakeStream& capture() { return *backend_.lastStream(); }
    /// One capture period with device channel k holding `inputs[k]`, silence elsewhere.
    void pump(const std::vector<std::vector<float>>& inputs) {
        FakeAudioBackend::FakeStream& stream = capture();
        const int frames = inputs.empty() ? 128 : static_cast<int>(inputs[0].size());
        for (size_t k = 0; k < stream.inputs.size(); ++k) {
            stream.inputs[k].assign(static_cast<size_t>(frames), 0.0f);
            if (k < inputs.size()) stream.inputs[k] = inputs[k];
        }
        stream.pump(frames);
    }
    static std::vector<float> constant(float value, int frames = 128) {
        return std::vector<float>(static_cast<size_t>(frames), value);
    }
    static std::vector<int8_t> bytes(const Dictionary& message, const char* key = "Value") {
        const Bytes* data = message[key].dataValue();
        return data ? std::vector<int8_t>(data->begin(), data->end()) : std::vector<int8_t>{};
    }
    /// Takes the ring's oldest block into `left` and `right`; false when it yields none.
    static bool take(BlockRingBuffer& ring, std::vector<float>& left, std::vector<float>& right) {
        float* l = nullptr;
        float* r = nullptr;
        if (!ring.consume(&l, &r)) return false;
        left.assign(l, l + ring.blockLen());
        right.assign(r, r + ring.blockLen());
        return true;
    }

    FakeAudioBackend backend_;
    FakeStrips strips_{0};
    FakeLinks links_;
    std::unique_ptr<ATMicrophone> microphone_;
    std::unique_ptr<PELAudioEngine> engine_;
};

TEST_F(PELAudioEngineServerRoleTest, SetUpCapturesEachStripsInputAndStartsTheTimers) {
    strips_.resize(3);
    strips_.model(0).setAudioInput(5);
    strips_.model(1).setAudioInput(2);
    strips_.model(2).setAudioInput(7);
    microphone_ = std::make_unique<ATMicrophone>(nullptr, backend_);
    PELAudioEngine engine(false, 3000);
    engine.setMicrophone(microphone_.get());
    engine.setStrips(&strips_);
    engine.setLinks(&links_);
    engine.startListening();  // before the set-up nothing captures and no timer runs
    loop_->advance(1.0);
    EXPECT_TRUE(links_.toEveryone.empty());
    EXPECT_EQ(backend_.openStreamCount(), 0);
    engine.stopListening();

    EXPECT_EQ(engine.initializeEngineWithCurrentDevices(), 8);
    EXPECT_EQ(engine.sampleRate(), 48000.0f);
    EXPECT_EQ(engine.currentInputDeviceUID(), "Fake:Eight");
    ASSERT_NE(engine.faultDetectors(), nullptr);
    engine.mapChannels();
    EXPECT_TRUE(engine.isListening());
    EXPECT_EQ(microphone_->channelMap(), (std::vector<int32_t>{5, 2, 7, -1, -1, -1, -1, -1}));
    // Capture channel k is strip k's input.
    capture().inputs.assign(8, std::vector<float>(128, 0.0f));
    capture().inputs[5].assign(128, 1.0f);
    capture().inputs[7].assign(128, 0.1f);
    capture().pump(128);
    EXPECT_EQ(engine.heldLevel(0), 100);
    EXPECT_EQ(engine.heldLevel(1), 0);
    EXPECT_EQ(engine.heldLevel(2), 60);
    EXPECT_EQ(engine.ringBuffer().dataInBuffer(), 128);

    loop_->advance(0.1);
    ASSERT_EQ(links_.sent("LevelData").size(), 1u);
    EXPECT_EQ(bytes(links_.sent("LevelData")[0]), (std::vector<int8_t>{100, 0, 60}));

    // Stopping stops the analysis but the level sends go on.
    engine.stopListening();
    loop_->advance(0.1);
    EXPECT_EQ(links_.sent("LevelData").size(), 2u);
    engine.setLinks(nullptr);
}

TEST_F(PELAudioEngineServerRoleTest, CaptureStartedAgainAfterTheThreadsStoppedReachesTheEngine) {
    PELAudioEngine& engine = start(1);
    engine.stopAudioThreads();
    EXPECT_EQ(backend_.openStreamCount(), 0);
    // A strip's input changes afterwards: the engine maps and listens again.
    engine.mapChannels();
    ASSERT_EQ(backend_.openStreamCount(), 1);
    pump({constant(1.0f)});
    EXPECT_EQ(engine.ringBuffer().dataInBuffer(), 128);
}

TEST_F(PELAudioEngineServerRoleTest, MetersTheLoudestBlockBetweenSendsAndClearsOnTheSend) {
    PELAudioEngine& engine = start(6);
    // -60 dB, 0 dBFS, +8 dBFS, RMS 0.1, then two blocks on strip 4 of which the first is louder.
    pump({constant(0.001f), constant(1.0f), constant(std::pow(10.0f, 8.0f / 20.0f)),
          sine(128, 375.0, 0.1 * std::sqrt(2.0)), constant(0.5f), constant(0.01f)});
    pump({constant(0.001f), constant(1.0f), constant(0.0f), constant(0.0f), constant(0.1f),
          constant(0.1f)});
    EXPECT_EQ(engine.heldLevel(4), 87);
    loop_->advance(0.1);

    ASSERT_EQ(links_.sent("LevelData").size(), 1u);
    const std::vector<int8_t> levels = bytes(links_.sent("LevelData")[0]);
    ASSERT_EQ(levels.size(), 6u);
    EXPECT_EQ(levels[0], 0);
    EXPECT_EQ(levels[1], 100);
    EXPECT_EQ(levels[2], 110);
    EXPECT_NEAR(levels[3], 60, 1);
    EXPECT_EQ(levels[4], 87);  // 0.5 is -6.02 dB
    EXPECT_EQ(levels[5], 60);
    EXPECT_EQ(engine.prevLevels()[1], 100);
    EXPECT_EQ(engine.levelRingBuffer().data()[1][engine.levelRingBuffer().bufferStart()], 100);
    ASSERT_EQ(strips_.updates.size(), 1u);
    EXPECT_EQ(strips_.updates[0][2], 110);

    // After the send every strip starts from 0 again.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(engine.heldLevel(i), 0);
    loop_->advance(0.1);
    EXPECT_EQ(bytes(links_.sent("LevelData")[1]), std::vector<int8_t>(6, 0));
}

TEST_F(PELAudioEngineServerRoleTest, MixesEachStripAtItsGainAndPan) {
    PELAudioEngine& engine = start(5);
    strips_.model(0).setPan(-100);
    strips_.model(1).setGain(6);
    strips_.model(2).setPan(100);
    strips_.model(3).setPan(-150);  // clamped: full left, never a negative right
    strips_.state(4).setChannelState(ChannelStripState::kOff);
    engine.publishMix();
    for (int block = 0; block < 5; ++block) {
        pump({constant(0.1f), constant(0.01f), constant(0.001f), constant(0.2f), constant(0.5f)});
    }
    std::vector<float> left, right;
    ASSERT_TRUE(take(engine.blockRing(), left, right));
    const float g6 = std::pow(10.0f, 6.0f / 20.0f);
    EXPECT_FLOAT_EQ(left[0], 0.1f + 0.01f * g6 + 0.2f);
    EXPECT_FLOAT_EQ(right[127], 0.01f * g6 + 0.001f);
    // Mono: every strip at its gain alone, in the stream ring.
    std::vector<float> mono(128);
    float* out[1] = {mono.data()};
    int got = 0;
    engine.streamBuffer().consume(out, 128, &got, 1);
    ASSERT_EQ(got, 128);
    EXPECT_FLOAT_EQ(mono[5], 0.1f + 0.01f * g6 + 0.001f + 0.2f);
}

// Strip k takes channel k of what is given; strips past the channels and strips that are off add
// nothing, and only a mix for the monitor also feeds the stream mix.
TEST_F(PELAudioEngineServerRoleTest, MixStereoFromAddsTheStripsThatAreOnToWhatIsThere) {
    engine_ = std::make_unique<PELAudioEngine>(false, 3000);
    StripMix hardLeft{true, 0.5f, 0.5f, 0.0f, -100};
    StripMix off{false, 1.0f, 1.0f, 1.0f, 0};
    StripMix centre{true, 2.0f, 2.0f, 2.0f, 0};
    const std::vector<StripMix> strips{hardLeft, off, centre, centre};
    const std::vector<float> a = constant(0.25f, 4), b = constant(1.0f, 4), c = constant(0.125f, 4);
    const float* in[3] = {a.data(), b.data(), c.data()};
    std::vector<float> left = constant(1.0f, 4), right = constant(0.0f, 4);

    engine_->mixStereoFrom(in, 3, left.data(), right.data(), strips, 4, true);
    EXPECT_FLOAT_EQ(left[3], 1.0f + 0.25f * 0.5f + 0.125f * 2.0f);
    EXPECT_FLOAT_EQ(right[3], 0.125f * 2.0f);
    EXPECT_FLOAT_EQ(engine_->streamMix()[3], 0.25f * 0.5f + 0.125f * 2.0f);

    engine_->mixStereoFrom(in, 3, left.data(), right.data(), strips, 4, false);
    EXPECT_FLOAT_EQ(right[0], 0.5f);
    EXPECT_FLOAT_EQ(engine_->streamMix()[0], 0.25f * 0.5f + 0.125f * 2.0f) << "left alone";
}

TEST_F(PELAudioEngineServerRoleTest, BlocksAreMixedIntoFourStereoBuffersInTurn) {
    PELAudioEngine& engine = start(2);
    for (int i = 0; i < PELAudioEngine::kPCMBufferCount; ++i) {
        EXPECT_EQ(engine.pcmBuffer(i).sampleRate(), 48000.0f);
        EXPECT_EQ(engine.pcmBuffer(i).frameLength(), 0);
    }
    // The counter starts at 1: the first block goes to buffer 3, then 0, 1, 2, 3...
    pump({constant(0.1f), constant(0.0f)});
    pump({constant(0.2f), constant(0.0f)});
    pump({constant(0.3f), constant(0.0f)});
    EXPECT_EQ(engine.pcmBuffer(2).frameLength(), 0);
    for (auto [index, value] : {std::pair{3, 0.1f}, {0, 0.2f}, {1, 0.3f}}) {
        const PCMBuffer& buffer = engine.pcmBuffer(index);
        EXPECT_EQ(buffer.frameLength(), 128) << index;
        EXPECT_FLOAT_EQ(buffer.channel(0)[127], value) << index;
        EXPECT_FLOAT_EQ(buffer.channel(1)[0], value) << index;
    }
    pump({constant(0.4f, 100), constant(0.0f, 100)});
    EXPECT_EQ(engine.pcmBuffer(2).frameLength(), 100);
    EXPECT_FLOAT_EQ(engine.pcmBuffer(2).channel(0)[99], 0.4f);
    EXPECT_EQ(engine.pcmBuffer(3).frameLength(), 128) << "the others keep their blocks";
}

TEST_F(PELAudioEngineServerRoleTest, EachBusyClientGetsItsOwnMixAndLocalOnesPlayOnTheirPair) {
    FakeStrips clientStrips(3);
    clientStrips.model(0).setPan(100);
    clientStrips.state(1).setChannelState(ChannelStripState::kOff);
    links_.slots[1].busy = true;
    links_.slots[1].output = 2;
    for (int k = 0; k < 3; ++k) {
        links_.slots[1].strips.push_back({&clientStrips.model(k), &clientStrips.state(k)});
    }
    links_.slots[2].busy = true;  // no output listed: nobody plays it here
    links_.slots[2].strips.push_back({&clientStrips.model(2), &clientStrips.state(2)});
    links_.slots[3].busy = true;  // a pair past the device's outputs
    links_.slots[3].output = 3;
    links_.slots[3].strips.push_back({&clientStrips.model(2), &clientStrips.state(2)});
    PELAudioEngine& engine = start(2);  // fewer capture channels than the client has strips
    for (int block = 0; block < 5; ++block) pump({constant(0.25f), constant(0.5f)});

    ASSERT_EQ(links_.slots[1].ring->sizeNow(), 5);
    EXPECT_EQ(links_.slots[0].ring->sizeNow(), 0);  // free
    Device device(4, 128);
    engine.output(device.pointers, 128);
    EXPECT_FLOAT_EQ(device.at(0, 0), 0.75f);  // the monitor mix on 0 and 1
    EXPECT_FLOAT_EQ(device.at(1, 0), 0.75f);
    EXPECT_FLOAT_EQ(device.at(2, 0), 0.0f);  // slot 1: strip 0 panned right, strip 1 off
    EXPECT_FLOAT_EQ(device.at(3, 0), 0.25f);
    EXPECT_EQ(links_.slots[1].ring->sizeNow(), 4);
    EXPECT_EQ(links_.slots[2].ring->sizeNow(), 5);
    EXPECT_EQ(links_.slots[3].ring->sizeNow(), 4);  // taken, but its pair is not there

    // Freed slots leave the mix at the next level send.
    links_.slots[1].busy = false;
    loop_->advance(0.1);
    pump({constant(0.25f), constant(0.5f)});
    EXPECT_EQ(links_.slots[1].ring->sizeNow(), 4);
    EXPECT_EQ(links_.slots[2].ring->sizeNow(), 5);  // full: the oldest went
    engine.setLinks(nullptr);
}

TEST_F(PELAudioEngineServerRoleTest, StreamSendsEveryHeldBlockInTheStreamingMode) {
    FakeStrips clientStrips(1);
    links_.slots[0].busy = true;
    links_.slots[0].streamTo = {"10.0.0.7", "10.0.0.8"};
    links_.slots[0].strips.push_back({&clientStrips.model(0), &clientStrips.state(0)});
    PELAudioEngine& engine = start(1);
    for (int block = 0; block < 5; ++block) pump({constant(0.5f)});
    engine.sendStream();
    EXPECT_TRUE(links_.streams.empty());  // no stream host yet

    links_.host = "10.0.0.7";
    engine.sendStream();
    ASSERT_EQ(links_.streams.size(), 2u);
    EXPECT_EQ(links_.streams[0].first, "10.0.0.7");
    EXPECT_EQ(links_.streams[1].first, "10.0.0.8");
    const Dictionary& mono = links_.streams[0].second;
    EXPECT_FALSE(mono.contains("RightValue"));
    ASSERT_NE(mono["LeftValue"].dataValue(), nullptr);
    ASSERT_EQ(mono["LeftValue"].dataValue()->size(), 5u * 512u);
    float first = 0;
    std::memcpy(&first, mono["LeftValue"].dataValue()->data(), sizeof first);
    EXPECT_EQ(first, 0.5f);
    engine.sendStream();  // nothing held: nothing sent
    EXPECT_EQ(links_.streams.size(), 2u);

    UserSettingsManager::sharedInstance().setStreamingMode(1);
    for (int block = 0; block < 5; ++block) pump({constant(0.5f)});
    engine.sendStream();
    ASSERT_EQ(links_.streams.size(), 4u);
    EXPECT_EQ(links_.streams[3].second["RightValue"].dataValue()->size(), 5u * 512u);

    UserSettingsManager::sharedInstance().setStreamingMode(2);
    for (int block = 0; block < 5; ++block) pump({constant(0.5f)});
    engine.sendStream();
    EXPECT_EQ(links_.streams.size(), 4u);
    EXPECT_EQ(links_.slots[0].ring->sizeNow(), 0);
    engine.setLinks(nullptr);
}

TEST_F(PELAudioEngineServerRoleTest, AnalysisTakesEveryFullBlockAndRespectsTheSwitches) {
    PELAudioEngine& engine = start(3);
    strips_.model(1).setScpEnabled(false);
    // Four analysis blocks of a constant: the timer's one tick takes them all.
    for (int period = 0; period < 16; ++period) {
        pump({constant(0.5f), constant(0.5f), constant(0.5f)});
    }
    engine.processVisuals();
    EXPECT_EQ(engine.ringBuffer().dataInBuffer(), 0);
    EXPECT_EQ(strips_.state(0).symmetryWarnings(), 4);
    EXPECT_EQ(strips_.state(0).clipWarnings(), 4);
    EXPECT_EQ(strips_.state(1).symmetryWarnings(), 0);  // analysis off for this strip

    UserSettingsManager::sharedInstance().setDisableAllWarnings(true);
    for (int period = 0; period < 4; ++period) {
        pump({constant(0.5f), constant(0.5f), constant(0.5f)});
    }
    loop_->advance(PELAudioEngine::kVisualsInterval * 1.5);
    EXPECT_EQ(engine.ringBuffer().dataInBuffer(), 0);
    EXPECT_EQ(strips_.state(0).symmetryWarnings(), 4);
    EXPECT_EQ(strips_.state(2).meanWarnings(), 4);
}

TEST_F(PELAudioEngineServerRoleTest, CaptureIsDroppedWhenMutedMiscountedOrNotListening) {
    PELAudioEngine& engine = start(2);
    std::vector<float> loud(128, 1.0f);
    const float* three[3] = {loud.data(), loud.data(), loud.data()};
    engine.processCapture(three, 128, 3);
    EXPECT_EQ(engine.captureLog().pending(CaptureLog::Line::WrongChannelCount), 1u);
    engine.setMute(true);
    engine.processCapture(three, 128, 2);
    engine.setMute(false);
    engine.stopListening();
    engine.processCapture(three, 128, 2);
    EXPECT_EQ(engine.captureLog().pending(CaptureLog::Line::NotReady), 1u);
    EXPECT_EQ(engine.heldLevel(0), 0);
    EXPECT_EQ(engine.ringBuffer().dataInBuffer(), 0);

    // A block longer than the block rings' goes in 128-frame pieces.
    engine.startListening();
    std::vector<float> longer(300, 0.5f);
    const float* two[2] = {longer.data(), longer.data()};
    engine.processCapture(two, 300, 2);
    EXPECT_EQ(engine.ringBuffer().dataInBuffer(), 300);
    EXPECT_EQ(engine.blockRing().sizeNow(), 3);
    loop_->advance(1.0);  // the log lines are printed
    EXPECT_EQ(engine.captureLog().pending(CaptureLog::Line::NotReady), 0u);
}

TEST_F(PELAudioEngineServerRoleTest, LevelSendCarriesTheReceiversFiguresAsBytes) {
    strips_.resize(4);
    strips_.model(0).setWirelessName("Lead");
    strips_.model(2).setWirelessName("Gone");
    strips_.model(3).setWirelessName("Loud");
    links_.receivers["Lead"] = {62, 70, 55, 0, 0, 4};
    links_.receivers["Loud"] = {300, -1, 100, 101, 50, 9};
    PELAudioEngine& engine = start(4);
    loop_->advance(0.1);
    ASSERT_EQ(links_.sent("RfLevelData").size(), 1u);
    EXPECT_EQ(bytes(links_.sent("RfLevelData")[0]), (std::vector<int8_t>{62, 0, 0, 100}));
    const int column = engine.rfALevelRingBuffer().bufferStart();
    EXPECT_EQ(engine.rfALevelRingBuffer().data()[0][column], 70);
    EXPECT_EQ(engine.rfALevelRingBuffer().data()[3][column], 0);
    EXPECT_EQ(engine.rfDLevelRingBuffer().data()[3][column], 50);
    EXPECT_EQ(engine.qlRingBuffer().data()[0][column], 4);
}

TEST_F(PELAudioEngineServerRoleTest, RoleIsReadOnceWhenTheEngineIsMade) {
    UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    PELAudioEngine first;  // nothing stored: the server role for this run
    EXPECT_TRUE(first.serverRole());
    settings.setActAsClient(true);  // the connection dialog is confirmed
    EXPECT_TRUE(first.serverRole());
    ASSERT_TRUE(settings.saveSettings());
    UserSettingsManager::resetSharedInstance();
    PELAudioEngine next;
    EXPECT_FALSE(next.serverRole());
    next.mapChannels();  // the remote role maps nothing
    EXPECT_FALSE(next.isListening());
}

// An audio thread mixes while the main thread keeps reassigning the client slots and the strips.
TEST_F(PELAudioEngineServerRoleTest, SlotsReassignedWhileTheCaptureMixes) {
    FakeStrips clientStrips(4);
    for (FakeLinks::Slot& slot : links_.slots) {
        for (int k = 0; k < 4; ++k) {
            slot.strips.push_back({&clientStrips.model(k), &clientStrips.state(k)});
        }
    }
    PELAudioEngine& engine = start(4);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> block(128, 0.25f);
        const float* in[4] = {block.data(), block.data(), block.data(), block.data()};
        Device device(8, 128);
        while (!done.load()) {
            engine.processCapture(in, 128, 4);
            engine.output(device.pointers, 128);
        }
    });
    for (int round = 0; round < 300; ++round) {
        for (size_t k = 0; k < links_.slots.size(); ++k) {
            links_.slots[k].busy = (round + k) % 3 != 0;
            links_.slots[k].output = (round % 2) ? std::optional<int>(2 * (k % 3)) : std::nullopt;
        }
        strips_.model(round % 4).setGain(round % 12);
        engine.publishMix();
        if (round % 50 == 0) {
            engine.setLinks(nullptr);
            engine.setLinks(&links_);
        }
    }
    done.store(true);
    audio.join();
    engine.setLinks(nullptr);
    EXPECT_EQ(engine.mixSnapshot()->clients.size(), 0u);
}

// The monitor output's device, picked before, is not listed at the set-up: the default plays
// meanwhile, and the output moves to the picked one once it is listed.
TEST_F(PELAudioEngineServerRoleTest, TheMonitorOutputAwaitsItsPickedDeviceOnTheDefault) {
    backend_.setDefaultOutputDevice(backend_.addDevice("Phones", 0, 2));
    microphone_ = std::make_unique<ATMicrophone>(nullptr, backend_);
    PELAudioEngine engine(false, 3000);
    engine.setMicrophone(microphone_.get());
    engine.setStrips(&strips_);
    engine.setCurrentOutputDeviceUID("Fake:Monitors");
    EXPECT_EQ(engine.initializeEngineWithCurrentDevices(), 8);
    engine.startListening();
    ATOutput* monitor = engine.stereoOut();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isPlaying());
    ASSERT_TRUE(monitor->device());
    EXPECT_EQ(monitor->device()->name(), "Phones");

    backend_.addDevice("Monitors", 0, 2);
    loop_->advance(4 * ATStreamWatch::kInterval);
    ASSERT_TRUE(monitor->device());
    EXPECT_EQ(monitor->device()->name(), "Monitors");
    EXPECT_TRUE(monitor->isPlaying());
    EXPECT_EQ(engine.currentOutputDeviceUID(), "Fake:Monitors");
    engine.stopListening();
}

}  // namespace
}  // namespace quenbril::test
