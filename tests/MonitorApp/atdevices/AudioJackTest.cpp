#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "foundation/ManualRunLoop.h"
#include "platform/jack/JackNotAnswering.h"
#include "platform/jack/JackServerPresence.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

constexpr const char* kSystemUID = "JACK Audio Connection Kit:system";
// -6 dBFS as a sine's peak.
const float kMinus6dB = static_cast<float>(std::pow(10.0, -6.0 / 20.0));

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

/// Keeps the engine's stream ring filled with a 1 kHz tone at 48 kHz, as the link would.
class ToneProducer {
  public:
    explicit ToneProducer(RingBuffer& ring) : ring_(ring), thread_([this] { run(); }) {}
    ~ToneProducer() {
        stop_ = true;
        thread_.join();
    }

  private:
    void run() {
        std::vector<float> block(128);
        const float* channels[2] = {block.data(), block.data()};
        while (!stop_) {
            while (ring_.dataInBuffer() < 2600) {
                for (float& sample : block) {
                    sample = kMinus6dB * static_cast<float>(std::sin(phase_));
                    phase_ = std::fmod(phase_ + 2.0 * std::numbers::pi * 1000.0 / 48000.0,
                                       2.0 * std::numbers::pi);
                }
                ring_.produce(channels, 128, 2);
            }
            sleepFor(0.001);
        }
    }
    RingBuffer& ring_;
    double phase_ = 0.0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool connectedToOurs(const std::string& port, const std::string& ending);

class AudioJackTest : public testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        loop_ = std::make_unique<ManualRunLoop>(800000000.0);
        RunLoop::setMain(loop_.get());
        // A loaded machine's first open of a server just started may take longer than the
        // remote's limit: the guard is not what these tests are about.
        sharedJackWorker()->setLimit(scaledSeconds(30));
        if (JackServer::shared().rate() != 48000 || JackServer::shared().playbackPorts() != 8 ||
            !JackServer::shared().running()) {
            ASSERT_TRUE(restartServer(48000));
        }
    }
    void TearDown() override {
        RunLoop::setMain(nullptr);
        loop_.reset();
    }
    /// The server dies, and the units' watches have had a tick since.
    void killServer() {
        JackServer::shared().kill();
        sleepFor(0.2);
        loop_->advance(1.0);
    }
    /// The server killed and started again, its socket refusing its first open as a server's
    /// that is still starting.
    [[nodiscard]] bool restartedRefusingAtFirst() {
        killServer();
        if (!JackServer::shared().start(48000)) return false;
        JackServerPresence::noServerAnswered();
        return true;
    }
    /// Whether our output is on the server's first playback port, at once or within `ticks`
    /// of the watches' ticks, the backoff's clock moved on by `step` before each.
    bool onThePlaybackPortsWithin(int ticks, std::chrono::seconds step = {}) {
        bool back = connectedToOurs("system:playback_1", ":out_1");
        for (int tick = 0; tick < ticks && !back; ++tick) {
            presenceNow_ += step;
            loop_->advance(1.0);
            back = connectedToOurs("system:playback_1", ":out_1");
        }
        return back;
    }
    /// The refused-socket backoff's clock, which the test moves from now on, put back when the
    /// returned object goes.
    [[nodiscard]] auto presenceClockOfTheTest() {
        presenceNow_ = std::chrono::steady_clock::now();
        JackServerPresence::setClockForTesting([this] { return presenceNow_; });
        struct RealClockAgain {
            ~RealClockAgain() { JackServerPresence::setClockForTesting({}); }
        };
        return RealClockAgain{};
    }
    /// A server at `rate`, and the backend's device list read from it.
    static bool restartServer(int rate) {
        AudioBackend::shared().release();
        const bool started = JackServer::shared().start(rate);
        AudioBackend::shared().refresh();
        return started;
    }
    /// A recorder with 8 inputs fed by the process's 8 output ports.
    static std::unique_ptr<JackTestClient> recorder() {
        auto client = std::make_unique<JackTestClient>("recorder", 8, 0);
        const auto outs = client->ports("quenbril:out_.*");
        EXPECT_EQ(outs.size(), 8u);
        for (size_t k = 0; k < outs.size() && k < 8; ++k) {
            EXPECT_TRUE(client->connect(outs[k], client->inputPort(static_cast<int>(k))));
        }
        return client;
    }
    /// Records a second, after the stream settled, in which the stream ring never ran short. On
    /// a loaded machine the tone's producer thread can be kept from the CPU for longer than the
    /// ring holds; the gap then played is the producer's, not the output's, and is recorded again.
    static std::vector<std::vector<float>> recordSecond(JackTestClient& client, RingBuffer& ring) {
        std::vector<std::vector<float>> ports;
        for (int attempt = 0; attempt < 5; ++attempt) {
            ring.log().flush();
            sleepFor(0.3);
            client.record(1.0);
            EXPECT_TRUE(client.waitRecorded(10.0));
            ports.clear();
            for (int k = 0; k < 8; ++k) ports.push_back(client.recorded(k));
            if (ring.log().pending(RingLog::Line::NotEnoughData) == 0 &&
                ring.log().pending(RingLog::Line::RingFilling) == 0) {
                break;
            }
        }
        return ports;
    }
    static void expectTone(const std::vector<float>& samples, double rate, double levelTolerance) {
        ASSERT_GT(samples.size(), 1000u);
        // The median period holds where a late cycle of a loaded dummy server spliced the
        // recording; a spectrum's peak would move with the splice.
        EXPECT_NEAR(medianPeriodFrequency(samples, rate), 1000.0, 1.0);
        EXPECT_NEAR(sineLevelDb(samples), -6.0, levelTolerance);
        EXPECT_LT(longestSilence(samples), 2);
    }

    std::unique_ptr<ManualRunLoop> loop_;
    std::chrono::steady_clock::time_point presenceNow_;
};

TEST_F(AudioJackTest, TheServerIsOneDeviceWithEightInputsAndOutputs) {
    const auto device = ATAudioDevice::deviceWithUID(kSystemUID);
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->name(), "system");
    EXPECT_EQ(device->inputChannelCount(), 8);
    EXPECT_EQ(device->outputChannelCount(), 8);
    EXPECT_EQ(ATAudioDevice::currentOutputDevice()->UID(), kSystemUID);
}

TEST_F(AudioJackTest, TheStreamPlaysOnTheChosenPairOnly) {
    PELAudioEngine engine(true, 3000);
    ToneProducer producer(engine.clientRing());
    engine.setCurrentOutputDeviceUID(kSystemUID);
    engine.startClient();
    ASSERT_TRUE(engine.stereoOut()->isPlaying());
    auto client = recorder();

    auto ports = recordSecond(*client, engine.clientRing());
    expectTone(ports[0], 48000.0, 0.1);
    expectTone(ports[1], 48000.0, 0.1);
    for (int k = 2; k < 8; ++k) EXPECT_EQ(peakOf(ports[static_cast<size_t>(k)]), 0.0f) << k;

    engine.setOutputChannel(2);
    client = recorder();  // the stream was re-made with new ports
    ports = recordSecond(*client, engine.clientRing());
    expectTone(ports[2], 48000.0, 0.1);
    expectTone(ports[3], 48000.0, 0.1);
    for (int k : {0, 1, 4, 5, 6, 7}) EXPECT_EQ(peakOf(ports[static_cast<size_t>(k)]), 0.0f) << k;
}

/// Keeps the first sample of the newest slice of each client channel.
class LatestSlice : public ATMicrophoneDelegate {
  public:
    void hasAudioReceived(ATMicrophone&, float* const* buffers, int, int channels) override {
        for (int c = 0; c < channels && c < 2; ++c) firsts[c] = buffers[c][0];
        slices.fetch_add(1);
    }
    std::atomic<float> firsts[2] = {0.0f, 0.0f};
    std::atomic<int> slices{0};
};

TEST_F(AudioJackTest, MappedInputChannelsArriveInTheMappedOrder) {
    LatestSlice slices;
    ATMicrophone microphone(&slices);
    ASSERT_EQ(microphone.numberOfChannels(), 8);
    ASSERT_TRUE(microphone.mapChannels({2, 0}));
    microphone.startFetchingAudio();
    JackTestClient injector("injector", 0, 8);
    const auto ins = injector.ports("quenbril:in_.*");
    ASSERT_EQ(ins.size(), 8u);
    for (int k = 0; k < 8; ++k) {
        injector.setConstant(k, 0.1f * static_cast<float>(k + 1));
        ASSERT_TRUE(injector.connect(injector.outputPort(k), ins[static_cast<size_t>(k)]));
    }
    // Periods, not a time: a loaded dummy server plays them well behind the wall clock.
    eventually([&] {
        return slices.slices.load() > 10 && slices.firsts[0].load() == 0.3f &&
               slices.firsts[1].load() == 0.1f;
    });
    EXPECT_GT(slices.slices.load(), 10);
    EXPECT_FLOAT_EQ(slices.firsts[0].load(), 0.3f);
    EXPECT_FLOAT_EQ(slices.firsts[1].load(), 0.1f);
}

/// Answers only the buffer list: keeps the newest slice's first and last sample of two buffers,
/// and whether every list so far was one float buffer per client channel, sized for its slice.
class LatestList : public ATMicrophoneDelegate {
  public:
    void hasBufferList(ATMicrophone&, AudioBufferList* list, int frames, int channels) override {
        bool whole = list->mNumberBuffers == static_cast<uint32_t>(channels) && channels == 2;
        for (uint32_t b = 0; whole && b < list->mNumberBuffers; ++b) {
            const AudioBuffer& buffer = list->mBuffers[b];
            whole = buffer.mNumberChannels == 1 &&
                    buffer.mDataByteSize == static_cast<uint32_t>(frames) * sizeof(float);
            const auto* samples = static_cast<const float*>(buffer.mData);
            first[b] = samples[0];
            last[b] = samples[frames - 1];
        }
        if (!whole) wellFormed = false;
        slices.fetch_add(1);
    }
    std::atomic<float> first[2] = {0.0f, 0.0f};
    std::atomic<float> last[2] = {0.0f, 0.0f};
    std::atomic<bool> wellFormed{true};
    std::atomic<int> slices{0};
};

TEST_F(AudioJackTest, ABufferListDelegateGetsTheCapturedSamplesAsTheyCame) {
    LatestList lists;
    ATMicrophone microphone(&lists);
    ASSERT_TRUE(microphone.mapChannels({5, 1}));
    microphone.startFetchingAudio();
    JackTestClient injector("injector", 0, 8);
    const auto ins = injector.ports("quenbril:in_.*");
    ASSERT_EQ(ins.size(), 8u);
    // JACK carries float32: the list holds the injected values bit for bit.
    auto level = [](int k) { return 0.1f * static_cast<float>(k + 1) + 1e-7f; };
    for (int k = 0; k < 8; ++k) {
        injector.setConstant(k, level(k));
        ASSERT_TRUE(injector.connect(injector.outputPort(k), ins[static_cast<size_t>(k)]));
    }
    eventually([&] {
        return lists.slices.load() > 10 && lists.last[0].load() == level(5) &&
               lists.last[1].load() == level(1);
    });
    EXPECT_GT(lists.slices.load(), 10);
    EXPECT_TRUE(lists.wellFormed.load());
    EXPECT_EQ(lists.first[0].load(), level(5));
    EXPECT_EQ(lists.last[0].load(), level(5));
    EXPECT_EQ(lists.first[1].load(), level(1));
    EXPECT_EQ(lists.last[1].load(), level(1));
}

TEST_F(AudioJackTest, OtherServerRatesAreConvertedWithoutGaps) {
    for (int rate : {44100, 96000}) {
        SCOPED_TRACE(rate);
        ASSERT_TRUE(restartServer(rate));
        {
            PELAudioEngine engine(true, 3000);
            ToneProducer producer(engine.clientRing());
            engine.setCurrentOutputDeviceUID(kSystemUID);
            engine.startClient();
            ASSERT_TRUE(engine.stereoOut()->isPlaying());
            EXPECT_TRUE(engine.stereoOut()->isConverting());
            auto client = recorder();
            const auto ports = recordSecond(*client, engine.clientRing());
            expectTone(ports[0], rate, 0.2);
            expectTone(ports[1], rate, 0.2);
        }
    }
    ASSERT_TRUE(restartServer(48000));
}

TEST_F(AudioJackTest, AServerThatDiesIsLoggedOnceAndTheSoundReturnsWithIt) {
    PELAudioEngine engine(true, 3000);
    ToneProducer producer(engine.clientRing());
    engine.setCurrentOutputDeviceUID(kSystemUID);
    engine.startClient();
    ASSERT_TRUE(engine.stereoOut()->isPlaying());

    testing::internal::CaptureStderr();
    killServer();
    EXPECT_FALSE(engine.stereoOut()->isPlaying());
    const bool restarted = JackServer::shared().start(48000);
    // The backend saw the new server; the watch's next try, within 2 s, plays on it.
    for (int look = 0; look < 4 && !engine.stereoOut()->isPlaying(); ++look) loop_->advance(1.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(restarted) << log;
    ASSERT_TRUE(engine.stereoOut()->isPlaying()) << log;
    auto count = [&log](const char* text) {
        size_t lines = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++lines;
        }
        return lines;
    };
    EXPECT_EQ(count("went away"), 1u) << log;
    EXPECT_EQ(count("is back"), 1u) << log;

    auto client = recorder();
    const auto ports = recordSecond(*client, engine.clientRing());
    expectTone(ports[0], 48000.0, 0.1);
    expectTone(ports[1], 48000.0, 0.1);
    engine.stopListening();
}

// Whether a port of ours named `ending` is connected to the server's `port`.
bool connectedToOurs(const std::string& port, const std::string& ending) {
    JackTestClient probe("probe", 0, 0);
    for (const auto& other : probe.connections(port)) {
        if (other.starts_with("quenbril") && other.ends_with(ending)) return true;
    }
    return false;
}

class Silence : public ATOutputDataSource {
  public:
    int output(ATOutput&, std::span<float* const>, int) override { return 0; }
};

// The server role's capture and output, both on the server's one device: whichever reopens
// first after the server died and came back, the other comes back too.
TEST_F(AudioJackTest, CaptureAndOutputOfTheServersDeviceBothComeBackAfterItDies) {
    ATMicrophone microphone;
    Silence silence;
    ATOutput output(&silence, 48000.0);
    ASSERT_TRUE(microphone.device() && microphone.device()->UID() == kSystemUID);
    microphone.startFetchingAudio();
    output.startPlayback();
    ASSERT_TRUE(connectedToOurs("system:capture_1", ":in_1"));
    ASSERT_TRUE(connectedToOurs("system:playback_1", ":out_1"));

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        killServer();
        ASSERT_TRUE(JackServer::shared().start(48000));
        bool both = false;
        for (int look = 0; look < 8 && !both; ++look) {
            loop_->advance(1.0);
            both = connectedToOurs("system:capture_1", ":in_1") &&
                   connectedToOurs("system:playback_1", ":out_1");
        }
        EXPECT_TRUE(both) << "capture " << connectedToOurs("system:capture_1", ":in_1")
                          << ", output " << connectedToOurs("system:playback_1", ":out_1");
    }
    output.stopPlayback();
    microphone.closeDevice();
}

// A server under load may make its socket before it answers: the output's first look at it finds
// no server, and the socket stays the same once the server answers. The output is on its ports
// soon after the socket is worth another open.
TEST_F(AudioJackTest, TheOutputIsOnTheServersPortsThoughItsFirstLookWasRefused) {
    Silence silence;
    ATOutput output(&silence, 48000.0);
    output.startPlayback();
    ASSERT_TRUE(connectedToOurs("system:playback_1", ":out_1"));
    const auto presenceClock = presenceClockOfTheTest();

    testing::internal::CaptureStderr();
    ASSERT_TRUE(restartedRefusingAtFirst());
    loop_->advance(3.0);
    EXPECT_FALSE(connectedToOurs("system:playback_1", ":out_1"));

    presenceNow_ += std::chrono::seconds(2);
    const bool back = onThePlaybackPortsWithin(3);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(back) << log;
    output.stopPlayback();
}

// A server slow to start (its device still busy) refuses for longer than a few seconds after
// making its socket: an output on a stand-in meanwhile is on its ports once it answers, within a
// wait of the refused socket's backoff.
TEST_F(AudioJackTest, TheOutputIsOnTheServersPortsThoughItRefusedForSomeSeconds) {
    Silence silence;
    ATOutput output(&silence, 48000.0);
    output.startPlayback();
    ASSERT_TRUE(connectedToOurs("system:playback_1", ":out_1"));
    const auto presenceClock = presenceClockOfTheTest();

    testing::internal::CaptureStderr();
    ASSERT_TRUE(restartedRefusingAtFirst());
    // The host's look comes after the opens of the server's first seconds were refused.
    presenceNow_ += std::chrono::seconds(6);
    JackServerPresence::noServerAnswered();
    loop_->advance(3.0);
    EXPECT_FALSE(connectedToOurs("system:playback_1", ":out_1"));

    const bool back = onThePlaybackPortsWithin(8, std::chrono::seconds(1));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(back) << log;
    output.stopPlayback();
}

// A unit made after the host's look was refused, once the socket is worth another open: the
// first to ask for the host's changes is then the new unit's watch, and the server that answers
// on the same socket is looked at all the same.
TEST_F(AudioJackTest, AnOutputMadeAfterARefusedLookIsOnTheServersPortsOnceTheServerAnswers) {
    const auto presenceClock = presenceClockOfTheTest();
    struct ListedAgain {
        // The next test finds the server's device listed, whatever this one found.
        ~ListedAgain() {
            JackServerPresence::serverAnswered();
            AudioBackend::shared().refresh();
        }
    } listedAgain;

    testing::internal::CaptureStderr();
    ASSERT_TRUE(restartedRefusingAtFirst());
    AudioBackend::shared().refresh();
    EXPECT_FALSE(ATAudioDevice::deviceWithUID(kSystemUID).has_value());
    presenceNow_ += std::chrono::seconds(2);

    Silence silence;
    ATOutput output(&silence, 48000.0);
    output.startPlayback();
    const bool back = onThePlaybackPortsWithin(4);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(back) << log << JackServer::shared().log();
    output.stopPlayback();
}

// A server started after the host's latest look, and an output made after that: the output's
// watch is the first to ask the host for its changes, and the server is looked at all the same.
TEST_F(AudioJackTest, AnOutputMadeAfterTheServerStartedSinceTheHostsLookPlaysOnIt) {
    struct ListedAgain {
        // The next test finds the server's device listed, whatever this one found.
        ~ListedAgain() { AudioBackend::shared().refresh(); }
    } listedAgain;

    testing::internal::CaptureStderr();
    JackServer::shared().stop();
    AudioBackend::shared().refresh();
    EXPECT_FALSE(ATAudioDevice::deviceWithUID(kSystemUID).has_value());
    ASSERT_TRUE(JackServer::shared().start(48000));

    Silence silence;
    ATOutput output(&silence, 48000.0);
    output.startPlayback();
    const bool back = onThePlaybackPortsWithin(4);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(back) << log << JackServer::shared().log();
    output.stopPlayback();
}

/// Counts the frames captured.
class CapturedFrames : public ATMicrophoneDelegate {
  public:
    void hasAudioReceived(ATMicrophone&, float* const*, int frames, int) override {
        count.fetch_add(frames);
    }
    std::atomic<int> count{0};
};

// A server that comes back at 44.1 kHz refuses the capture's 48 kHz: the capture opens at the
// server's rate and hands on 48 kHz all the same.
TEST_F(AudioJackTest, ACaptureComesBackFromAServerBackAtAnotherRate) {
    CapturedFrames frames;
    ATMicrophone microphone(&frames);
    ASSERT_TRUE(microphone.device() && microphone.device()->UID() == kSystemUID);
    microphone.startFetchingAudio();
    ASSERT_TRUE(connectedToOurs("system:capture_1", ":in_1"));

    testing::internal::CaptureStderr();
    killServer();
    const bool started = JackServer::shared().start(44100);
    bool back = false;
    for (int look = 0; look < 8 && !back; ++look) {
        loop_->advance(1.0);
        back = connectedToOurs("system:capture_1", ":in_1");
    }
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(started);
    ASSERT_TRUE(back) << log;
    EXPECT_EQ(microphone.audioStreamBasicDescription().sampleRate, 48000.0);
    const int before = frames.count.load();
    EXPECT_TRUE(eventually([&] { return frames.count.load() > before + 48000; })) << log;
    EXPECT_NE(log.find("44100 Hz (converted)"), std::string::npos) << log;
    microphone.closeDevice();
}

// A server back without playback ports: its device is listed with nothing to play on, so the
// output awaits it without a JACK client opened to look, however long; a server with its ports
// has the output on them within a few looks of its start.
TEST_F(AudioJackTest, TheOutputIsOnThePortsOfAServerThatReplacesOneWithout) {
    Silence silence;
    ATOutput output(&silence, 48000.0);
    output.startPlayback();
    ASSERT_TRUE(connectedToOurs("system:playback_1", ":out_1"));

    testing::internal::CaptureStderr();
    killServer();
    ASSERT_TRUE(JackServer::shared().start(48000, 0));
    loop_->advance(4.0);
    {
        // Every client that comes while the output waits is heard by the watcher, in order:
        // the sentinel last.
        JackTestClient watcher("watcher", 0, 0);
        loop_->advance(30.0);
        JackTestClient sentinel("sentinel", 0, 0);
        ASSERT_TRUE(eventually([&] { return watcher.roster().heardOf("sentinel"); }));
        EXPECT_EQ(watcher.roster().arrivalsBefore("sentinel"), 0)
            << "a JACK client came and went while nothing changed";
    }
    EXPECT_FALSE(output.isPlaying());

    JackServer::shared().kill();
    sleepFor(0.2);
    ASSERT_TRUE(JackServer::shared().start(48000, 2));
    bool back = false;
    for (int look = 0; look < 5 && !back; ++look) {
        loop_->advance(1.0);
        back = connectedToOurs("system:playback_1", ":out_1") &&
               connectedToOurs("system:playback_2", ":out_2");
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(back) << log;
    output.stopPlayback();
}

}  // namespace
}  // namespace quenbril::test
