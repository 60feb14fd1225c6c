#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "ServerRoleFakes.h"
#include "foundation/UserDefaults.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril::test {
namespace {

constexpr const char* kSystemUID = "JACK Audio Connection Kit:system";

// The server role on the dummy JACK server: two strips on inputs 1 and 2, a tone injected into
// the second, the monitor mix recorded from the first output pair.
class PELAudioEngineJackTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-serverrole-jack-XXXXXX"));
        if (JackServer::shared().rate() != 48000 || !JackServer::shared().running()) {
            AudioBackend::shared().release();
            ASSERT_TRUE(JackServer::shared().start(48000));
            AudioBackend::shared().refresh();
        }
    }
    void TearDown() override {
        if (!loop_) return;
        UserSettingsManager::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
        leaveTemporarySettings();
    }
};

TEST_F(PELAudioEngineJackTest, ATonesLevelIsMeteredAndItPlaysInTheMonitorMix) {
    FakeStrips strips(2);
    FakeLinks links;
    ATMicrophone microphone;
    PELAudioEngine engine(false, 3000);
    engine.setMicrophone(&microphone);
    engine.setStrips(&strips);
    engine.setLinks(&links);
    engine.setCurrentInputDeviceUID(kSystemUID);
    engine.setCurrentOutputDeviceUID(kSystemUID);
    ASSERT_EQ(engine.initializeEngineWithCurrentDevices(), 8);
    EXPECT_EQ(engine.sampleRate(), 48000.0f);
    engine.mapChannels();
    ASSERT_TRUE(engine.isListening());
    ASSERT_NE(engine.stereoOut(), nullptr);
    ASSERT_TRUE(engine.stereoOut()->isPlaying());

    // A 375 Hz sine of RMS 0.1 (-20 dB of a full-scale constant) into input 2.
    JackTestClient injector("injector", 0, 2);
    const auto ins = injector.ports("quenbril:in_.*");
    ASSERT_EQ(ins.size(), 8u);
    injector.setTone(1, 375.0, static_cast<float>(0.1 * std::sqrt(2.0)));
    ASSERT_TRUE(injector.connect(injector.outputPort(0), ins[0]));
    ASSERT_TRUE(injector.connect(injector.outputPort(1), ins[1]));
    JackTestClient recorder("recorder", 2, 0);
    // The output is a client of its own beside the capture's.
    const auto outs = recorder.ports("quenbril.*:out_.*");
    ASSERT_GE(outs.size(), 2u);
    ASSERT_TRUE(recorder.connect(outs[0], recorder.inputPort(0)));
    ASSERT_TRUE(recorder.connect(outs[1], recorder.inputPort(1)));

    // Half a second of capture, then one level send and one analysis tick.
    ASSERT_TRUE(loop_->runUntil([&] { return engine.ringBuffer().dataInBuffer() >= 2400; }, 10.0));
    ASSERT_TRUE(loop_->runUntil([&] { return engine.heldLevel(1) > 0; }, 10.0));
    engine.sendLevels();
    ASSERT_EQ(links.sent("LevelData").size(), 1u);
    const Bytes* levels = links.sent("LevelData")[0]["Value"].dataValue();
    ASSERT_NE(levels, nullptr);
    ASSERT_EQ(levels->size(), 2u);
    EXPECT_EQ((*levels)[0], 0);
    EXPECT_NEAR((*levels)[1], 60, 1);
    // The analysis: the tone's onset may look like a fault; the steady tone never does. A break
    // in the capture may, as a click would: a cycle the loaded server ran late, or this thread
    // kept from the CPU past the ring's 60 ms, which then drops its oldest half. So the blocks
    // are analysed as they come, and a stretch of 2048 frames without a fault is waited for.
    engine.processVisuals();
    EXPECT_LT(engine.ringBuffer().dataInBuffer(), 512);
    const ChannelStripState& state = strips.state(1);
    auto faults = [&state] {
        return state.clipWarnings() + state.symmetryWarnings() + state.meanWarnings() +
               state.hfWarnings() + state.peakWarnings() + state.lpfWarnings();
    };
    int faultsSoFar = faults();
    int steadyFrames = 0;
    EXPECT_TRUE(loop_->runUntil(
        [&] {
            const int held = engine.ringBuffer().dataInBuffer();
            engine.processVisuals();
            if (faults() != faultsSoFar) {
                faultsSoFar = faults();
                steadyFrames = 0;
                return false;
            }
            steadyFrames += std::max(0, held - engine.ringBuffer().dataInBuffer());
            return steadyFrames >= 2048;
        },
        10.0))
        << "the steady tone looked like a fault in every stretch of 2048 frames for 10 s";

    // The monitor mix: both strips centred at 0 dB, so the tone on both sides of the pair.
    recorder.record(0.5);
    ASSERT_TRUE(recorder.waitRecorded(10.0));
    for (int side = 0; side < 2; ++side) {
        const std::vector<float> samples = recorder.recorded(side);
        EXPECT_NEAR(peakFrequency(samples, 48000.0, 365.0, 385.0), 375.0, 1.0) << side;
        EXPECT_NEAR(sineLevelDb(samples), 20.0 * std::log10(0.1 * std::sqrt(2.0)), 0.5) << side;
    }
    engine.stopListening();
    engine.setLinks(nullptr);
}

}  // namespace
}  // namespace quenbril::test
