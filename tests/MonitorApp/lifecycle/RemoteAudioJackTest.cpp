// The remote hears the strip listened to: a headless main window confirmed against the stand-in by
// manual address, with the JACK server's device stored as the output, plays the stream of the
// strip a click makes active; muting and a second click give digital silence.

#include "MonitorApp/audio/PELAudioEngine.h"
#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"

namespace quenbril::test {
namespace {

constexpr const char* kSystemUID = "JACK Audio Connection Kit:system";

class RemoteAudio : public LifeCycleTest {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        LifeCycleTest::SetUp();
        AudioBackend::setShared(nullptr);  // the real devices: the binary's JACK server
        ASSERT_NE(standIn.port(), 0) << standIn.log();
        link().setPort(standIn.port());
        defaults().setInteger(1, "useManualIP");
        defaults().setObject(Value("127.0.0.1"), "manualIP");
        defaults().setObject(Value(kSystemUID), "OutputDeviceUID");
    }

    /// Records a second of the process's first two output ports while the window's loop runs.
    std::vector<std::vector<float>> recordSecond(JackTestClient& recorder) {
        loop_->runFor(0.5);
        recorder.record(1.0);
        EXPECT_TRUE(loop_->runUntil([&] { return recorder.recordingDone(); }, 10.0));
        return {recorder.recorded(0), recorder.recorded(1)};
    }

    SimServerProcess standIn;
};

TEST_F(RemoteAudio, TheActiveStripPlaysOnTheStoredDevice) {
    start();
    ASSERT_NE(dialog(), nullptr);
    ASSERT_TRUE(waitFor([&] { return dialog()->outputDevices()->isEnabled(); }))
        << "the JACK device is listed";
    EXPECT_EQ(dialog()->outputDevices()->currentText(), "system");
    ASSERT_TRUE(waitFor([&] { return dialog()->statusText()->text() == "Connected to server"; }))
        << standIn.log();
    dialog()->confirmClicked();
    ASSERT_TRUE(waitFor([&] {
        return manager().controllers().size() > 3 && link().serverIsHere();
    })) << standIn.log();
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    ASSERT_NE(engine.stereoOut(), nullptr);
    ASSERT_TRUE(engine.stereoOut()->isPlaying());

    JackTestClient recorder("recorder", 2, 0);
    const auto outs = recorder.ports("quenbril:out_.*");
    ASSERT_GE(outs.size(), 2u);
    ASSERT_TRUE(recorder.connect(outs[0], recorder.inputPort(0)));
    ASSERT_TRUE(recorder.connect(outs[1], recorder.inputPort(1)));

    // A click on the strip at position 3, as its view posts it.
    ChannelStripController& strip = *manager().controllers()[3];
    const auto click = [&strip] {
        NotificationCenter::defaultCenter().post(
            "CSClicked", Dictionary{{"index", strip.model().csID()}, {"sender", "master"}});
    };
    click();
    ASSERT_TRUE(waitFor([&] { return strip.state().channelState() == ChannelStripState::kActive; }))
        << standIn.log();
    auto ports = recordSecond(recorder);
    ASSERT_GT(ports[0].size(), 40000u);
    // On a busy machine a late stand-in or remote can still leave the stream ring short or
    // make it skip now and then: the frequency is read from the periods, which such a splice
    // barely moves.
    EXPECT_NEAR(medianPeriodFrequency(ports[0], recorder.sampleRate()), 302.5, 1.0);
    const double level = sineLevelDb(ports[0]);
    EXPECT_GT(level, -40.0);
    EXPECT_LT(level, -10.0);
    EXPECT_EQ(ports[0], ports[1]) << "left and right carry the same mono strip";

    engine.setMute(true);
    ports = recordSecond(recorder);
    EXPECT_EQ(peakOf(ports[0]), 0.0f);
    EXPECT_EQ(peakOf(ports[1]), 0.0f);
    engine.setMute(false);

    click();
    ASSERT_TRUE(waitFor([&] { return strip.state().channelState() == ChannelStripState::kOff; }))
        << standIn.log();
    loop_->runFor(0.5);
    ports = recordSecond(recorder);
    EXPECT_EQ(peakOf(ports[0]), 0.0f);
    EXPECT_EQ(peakOf(ports[1]), 0.0f);
    engine.stopListening();
}

}  // namespace
}  // namespace quenbril::test
