#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/UserDefaults.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril::test {
namespace {

TEST(PELAudioEngineTest, HoldsNineHistoriesAndBothRingsInEitherRole) {
    for (bool remote : {true, false}) {
        PELAudioEngine engine(remote, 3000);
        EXPECT_EQ(engine.actAsClient(), remote);
        for (CharRingBuffer* history :
             {&engine.levelRingBuffer(), &engine.rfLevelRingBuffer(), &engine.rfALevelRingBuffer(),
              &engine.rfBLevelRingBuffer(), &engine.rfCLevelRingBuffer(),
              &engine.rfDLevelRingBuffer(), &engine.rfDivLevelRingBuffer(),
              &engine.alertRingBuffer(), &engine.qlRingBuffer()}) {
            EXPECT_EQ(history->channels(), 128);
            EXPECT_EQ(history->bufferLen(), 3000);
        }
        // A stream that arrives has a ring to go to, whatever role was stored at start.
        EXPECT_EQ(engine.clientRing().channels(), 2);
        EXPECT_EQ(engine.clientRing().bufferLen(), 4096);
        EXPECT_EQ(engine.blockRing().numBlocks(), 6);
        EXPECT_EQ(engine.blockRing().blockLen(), 128);
    }
    EXPECT_EQ(PELAudioEngine(true, 20).qlRingBuffer().bufferLen(), 128);
}

TEST(PELAudioEngineTest, BeforeAnyDeviceThePropertiesAreEmptyAndListeningIsHarmless) {
    for (bool remote : {true, false}) {
        PELAudioEngine engine(remote, 3000);
        EXPECT_EQ(engine.availableChannels(), 0);
        EXPECT_EQ(engine.sampleRate(), 0.0f);
        EXPECT_EQ(engine.outputChannels(), 0);
        EXPECT_FALSE(engine.currentOutputDeviceUID().has_value());
        engine.stopListening();
        engine.mapChannels();
        EXPECT_FALSE(engine.isListening());
    }
}

TEST(PELAudioEngineTest, OutputWaitsForTheRingToRefillThenPlaysTheExactFrames) {
    PELAudioEngine engine(true, 3000);
    Device device(2, 512);
    engine.output(device.pointers, 512);  // an empty ring: silence, and the ring starts filling
    ASSERT_TRUE(device.silent());
    EXPECT_TRUE(engine.clientRing().isFilling());
    StereoSource stream;
    stream.write(engine.clientRing(), 1950);
    engine.output(device.pointers, 512);
    EXPECT_TRUE(device.silent());          // enough for one period, but a filling ring waits...
    stream.write(engine.clientRing(), 1);  // ...until more than 1950 frames are held
    engine.output(device.pointers, 512);
    EXPECT_TRUE(device.plays(1.0f));
    engine.output(device.pointers, 512);
    EXPECT_TRUE(device.plays(513.0f));
}

TEST(PELAudioEngineTest, MutedOrServerRoleOutputIsSilentAndLeavesTheRingAlone) {
    for (bool remote : {true, false}) {
        SCOPED_TRACE(remote ? "muted client" : "server role");
        PELAudioEngine engine(remote, 3000);
        StereoSource stream;
        stream.write(engine.clientRing(), 3000);
        engine.setMute(remote);
        Device device(2, 128);
        engine.output(device.pointers, 128);
        EXPECT_TRUE(device.silent());
        EXPECT_EQ(engine.clientRing().dataInBuffer(), 3000);
    }
}

TEST(PELAudioEngineTest, OneBufferGetsTheLeftChannelAndExtraBuffersStaySilent) {
    PELAudioEngine engine(true, 3000);
    StereoSource stream;
    stream.write(engine.clientRing(), 2500);
    Device mono(1, 64);
    engine.output(mono.pointers, 64);
    EXPECT_TRUE(mono.plays(1.0f));

    Device four(4, 64);
    engine.output(four.pointers, 64);
    EXPECT_TRUE(four.plays(65.0f));
    for (float s : four.samples[3]) ASSERT_EQ(s, 0.0f);
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

TEST_F(PELAudioEngineSharedTest, PlaybackFollowsTheRoleInForceFromTheFirstStart) {
    PELAudioEngine& first = PELAudioEngine::sharedInstance();
    EXPECT_EQ(&first, &PELAudioEngine::sharedInstance());
    EXPECT_FALSE(first.actAsClient());  // nothing stored yet: the server role
    EXPECT_EQ(first.levelRingBuffer().bufferLen(), 3000);
    StereoSource source;
    source.write(first.clientRing(), 2048);
    Device device(2, 128);
    first.output(device.pointers, 128);
    EXPECT_TRUE(device.silent());

    // The connection dialog stores the remote role during the run: the stream plays at once.
    UserSettingsManager::sharedInstance().setActAsClient(true);
    EXPECT_TRUE(first.actAsClient());
    first.output(device.pointers, 128);
    EXPECT_EQ(device.at(0, 0), 1.0f);
    EXPECT_EQ(device.at(1, 127), -128.0f);

    // Muted, it is silent again and the ring is left alone.
    first.setMute(true);
    first.output(device.pointers, 128);
    EXPECT_TRUE(device.silent());
    first.setMute(false);
    first.output(device.pointers, 128);
    EXPECT_EQ(device.at(0, 0), 129.0f);

    ASSERT_TRUE(UserSettingsManager::sharedInstance().saveSettings());
    restart();
    UserSettingsManager::sharedInstance().setLongRingBufLen(500);
    PELAudioEngine& second = PELAudioEngine::sharedInstance();
    EXPECT_TRUE(second.actAsClient());
    EXPECT_EQ(second.alertRingBuffer().bufferLen(), 500);
}

// An engine made over settings of its own reads them, whatever the shared settings hold.
TEST_F(PELAudioEngineSharedTest, AnEngineReadsTheSettingsItWasMadeOver) {
    UserDefaults ownDefaults("/nonexistent/quenbril-engine-settings", "Defaults");
    UserSettingsManager own(ownDefaults);
    own.setLongRingBufLen(500);
    own.setActAsClient(true);
    PELAudioEngine engine(own);
    EXPECT_EQ(engine.levelRingBuffer().bufferLen(), 500);
    EXPECT_TRUE(engine.actAsClient());
    UserSettingsManager::sharedInstance().setActAsClient(true);
    own.setActAsClient(false);
    EXPECT_FALSE(engine.actAsClient());
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
}  // namespace quenbril::test
