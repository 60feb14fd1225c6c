#include <gtest/gtest.h>

#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/UserSettingsManager.h"
#include "foundation/UserDefaults.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril {
namespace {

// Writes frames the way the server's stream arrives: frame k carries k + 1 left and -(k + 1)
// right, k counting on across calls.
class Stream {
  public:
    void send(RingBuffer& ring, int frames) {
        std::vector<float> left(static_cast<size_t>(frames)), right(left);
        for (int i = 0; i < frames; ++i) {
            left[static_cast<size_t>(i)] = static_cast<float>(next_ + i + 1);
            right[static_cast<size_t>(i)] = -static_cast<float>(next_ + i + 1);
        }
        const float* in[2] = {left.data(), right.data()};
        ring.produce(in, frames, 2);
        next_ += frames;
    }

  private:
    int next_ = 0;
};

// An output device's buffers: every sample starts as a non-zero marker.
struct Device {
    Device(int channels, int frames)
        : samples(static_cast<size_t>(channels), std::vector<float>(frames, 7.0f)) {
        for (auto& channel : samples) pointers.push_back(channel.data());
    }
    bool silent() const {
        for (const auto& channel : samples) {
            for (float s : channel) {
                if (s != 0.0f) return false;
            }
        }
        return true;
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

TEST(PELAudioEngineTest, HoldsNineHistoriesAndBothRingsInEitherRole) {
    for (bool remote : {true, false}) {
        PELAudioEngine engine(remote, 3000);
        EXPECT_EQ(engine.actAsClient(), remote);
        CharRingBuffer* histories[] = {&engine.levelRingBuffer(),      &engine.rfLevelRingBuffer(),
                                       &engine.rfALevelRingBuffer(),   &engine.rfBLevelRingBuffer(),
                                       &engine.rfCLevelRingBuffer(),   &engine.rfDLevelRingBuffer(),
                                       &engine.rfDivLevelRingBuffer(), &engine.alertRingBuffer(),
                                       &engine.qlRingBuffer()};
        for (CharRingBuffer* history : histories) {
            EXPECT_EQ(history->channels(), 128);
            EXPECT_EQ(history->bufferLen(), 3000);
        }
        // A stream that arrives has a ring to go to, whatever role was stored at start.
        EXPECT_EQ(engine.clientRing().channels(), 2);
        EXPECT_EQ(engine.clientRing().bufferLen(), 4096);
        EXPECT_EQ(engine.blockRing().numBlocks(), 6);
        EXPECT_EQ(engine.blockRing().blockLen(), 128);
    }
    PELAudioEngine shortHistory(true, 20);
    EXPECT_EQ(shortHistory.qlRingBuffer().bufferLen(), 128);
}

TEST(PELAudioEngineTest, BeforeAnyDeviceThePropertiesAreEmptyAndListeningIsHarmless) {
    PELAudioEngine engine(true, 3000);
    EXPECT_EQ(engine.availableChannels(), 0);
    EXPECT_EQ(engine.sampleRate(), 0.0f);
    EXPECT_EQ(engine.outputChannels(), 0);
    EXPECT_FALSE(engine.currentInputDeviceUID().has_value());
    EXPECT_FALSE(engine.currentOutputDeviceUID().has_value());
    EXPECT_FALSE(engine.mute());
    EXPECT_FALSE(engine.isListening());
    engine.stopListening();
    engine.mapChannels();
    engine.startListening();
    EXPECT_TRUE(engine.isListening());
    engine.stopListening();
    EXPECT_FALSE(engine.isListening());
    engine.setOutputChannel(4);
    EXPECT_EQ(engine.outputChannel(), 4);

    PELAudioEngine server(false, 3000);
    server.mapChannels();
    EXPECT_FALSE(server.isListening());
}

TEST(PELAudioEngineTest, MutedOutputIsSilentAndLeavesTheRingAlone) {
    PELAudioEngine engine(true, 3000);
    Stream stream;
    stream.send(engine.clientRing(), 3000);
    engine.setMute(true);
    Device device(2, 128);
    EXPECT_EQ(engine.output(device.pointers, 128), 0);
    EXPECT_TRUE(device.silent());
    EXPECT_EQ(engine.clientRing().dataInBuffer(), 3000);
}

TEST(PELAudioEngineTest, OutputWaitsForTheRingToRefillThenPlaysTheExactFrames) {
    PELAudioEngine engine(true, 3000);
    Device device(2, 512);
    engine.output(device.pointers, 512);  // an empty ring: silence, and the ring starts filling
    ASSERT_TRUE(device.silent());
    EXPECT_TRUE(engine.clientRing().isFilling());
    Stream stream;
    stream.send(engine.clientRing(), 1000);
    engine.output(device.pointers, 512);
    EXPECT_TRUE(device.silent());  // 1000 held would do, but a filling ring waits...

    stream.send(engine.clientRing(), 950);  // ...until more than 1950 frames are held
    engine.output(device.pointers, 512);
    EXPECT_TRUE(device.silent());
    stream.send(engine.clientRing(), 1);
    engine.output(device.pointers, 512);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(device.samples[0][static_cast<size_t>(i)], static_cast<float>(i + 1));
        ASSERT_EQ(device.samples[1][static_cast<size_t>(i)], -static_cast<float>(i + 1));
    }
    engine.output(device.pointers, 512);
    EXPECT_EQ(device.samples[0][0], 513.0f);
}

TEST(PELAudioEngineTest, OneBufferGetsTheLeftChannelAndExtraBuffersStaySilent) {
    PELAudioEngine engine(true, 3000);
    Stream stream;
    stream.send(engine.clientRing(), 2500);
    Device mono(1, 64);
    engine.output(mono.pointers, 64);
    EXPECT_EQ(mono.samples[0][63], 64.0f);

    Device four(4, 64);
    engine.output(four.pointers, 64);
    EXPECT_EQ(four.samples[1][0], -65.0f);
    for (float s : four.samples[3]) ASSERT_EQ(s, 0.0f);
}

TEST(PELAudioEngineTest, ServerRoleOutputDoesNotReadTheClientRing) {
    PELAudioEngine engine(false, 3000);
    Stream stream;
    stream.send(engine.clientRing(), 2500);
    Device device(2, 128);
    engine.output(device.pointers, 128);
    EXPECT_TRUE(device.silent());
    EXPECT_EQ(engine.clientRing().dataInBuffer(), 2500);
}

// The shared engine reads the user settings, so these tests get a store of their own and a
// virtual-time main loop.
class PELAudioEngineSharedTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-audio-XXXXXX"));
        restart();
    }
    void TearDown() override {
        restart();
        leaveTemporarySettings();
    }
    static void restart() {
        PELAudioEngine::resetSharedInstance();
        UserSettingsManager::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
    }
};

TEST_F(PELAudioEngineSharedTest, TheStoredRoleTakesEffectAtTheNextStart) {
    PELAudioEngine& first = PELAudioEngine::sharedInstance();
    EXPECT_EQ(&first, &PELAudioEngine::sharedInstance());
    EXPECT_FALSE(first.actAsClient());  // nothing stored yet: the server role
    EXPECT_EQ(first.levelRingBuffer().bufferLen(), 3000);

    // The first run's stream still has its ring...
    Stream stream;
    stream.send(first.clientRing(), 100);
    EXPECT_EQ(first.clientRing().dataInBuffer(), 100);

    // ...and a role stored during the run waits for the next one.
    UserSettingsManager::sharedInstance().setActAsClient(true);
    ASSERT_TRUE(UserSettingsManager::sharedInstance().saveSettings());
    EXPECT_FALSE(PELAudioEngine::sharedInstance().actAsClient());

    restart();
    UserSettingsManager::sharedInstance().setLongRingBufLen(500);
    PELAudioEngine& second = PELAudioEngine::sharedInstance();
    EXPECT_TRUE(second.actAsClient());
    EXPECT_EQ(second.alertRingBuffer().bufferLen(), 500);
}

TEST_F(PELAudioEngineSharedTest, TheMainLoopPrintsTheRingsLogLines) {
    PELAudioEngine engine(true, 3000);
    Device device(2, 128);
    engine.output(device.pointers, 128);  // an empty ring: one FILLING line counted
    EXPECT_EQ(engine.clientRing().log().pending(RingLog::Line::RingFilling), 1u);
    loop_->advance(1.0);
    EXPECT_EQ(engine.clientRing().log().pending(RingLog::Line::RingFilling), 0u);
}

}  // namespace
}  // namespace quenbril
