#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "tests/MonitorApp/atdevices/FakeDeviceFixture.h"

namespace quenbril::test {
namespace {

class PELAudioEngineDevicesTest : public FakeDeviceFixture {
  protected:
    void SetUp() override {
        FakeDeviceFixture::SetUp();
        addDevice("Built-in", 2, 2);
        backend_.setDefaultOutputDevice(0);
        backend_.setDefaultInputDevice(0);
        addDevice("Eight", 8, 8);
    }
    FakeAudioBackend::FakeStream& stream() { return *backend_.lastStream(); }
};

TEST_F(PELAudioEngineDevicesTest, DevicesAreFoundByUIDOrFallBackToTheDefault) {
    PELAudioEngine engine(true, 3000);
    engine.setCurrentOutputDeviceUID("Fake:Eight");
    EXPECT_EQ(engine.currentOutputDevice()->name(), "Eight");
    engine.setCurrentOutputDeviceUID("Fake:Gone");
    EXPECT_EQ(engine.currentOutputDevice()->name(), "Built-in");
    engine.setCurrentInputDeviceUID(std::nullopt);
    EXPECT_EQ(engine.currentInputDevice()->name(), "Built-in");

    backend_.removeAllDevices();
    ASSERT_TRUE(backend_.refresh());
    EXPECT_FALSE(engine.currentOutputDevice().has_value());
}

TEST_F(PELAudioEngineDevicesTest, StartClientPlaysTheStreamOnTheChosenPair) {
    PELAudioEngine engine(true, 3000);
    engine.setCurrentOutputDeviceUID("Fake:Eight");
    engine.setOutputChannel(2);
    engine.startClient();
    ASSERT_NE(engine.stereoOut(), nullptr);
    ASSERT_TRUE(engine.stereoOut()->isPlaying());
    EXPECT_TRUE(engine.isListening());
    EXPECT_EQ(engine.outputChannels(), 8);
    EXPECT_EQ(stream().parameters.sampleRate, 48000.0);

    StereoSource source;
    source.write(engine.clientRing(), 2048);
    stream().pump(128);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(stream().output(3, 0), -1.0f);
    EXPECT_EQ(stream().output(0, 0), 0.0f);
    EXPECT_EQ(stream().output(4, 0), 0.0f);

    // A channel past the device is refused; the pair stays where it was.
    engine.setOutputChannel(8);
    EXPECT_EQ(engine.outputChannel(), 2);
    engine.setOutputChannel(6);
    EXPECT_EQ(engine.outputChannel(), 6);
    stream().pump(128);
    EXPECT_EQ(stream().output(6, 0), 129.0f);
    EXPECT_EQ(stream().output(7, 0), -129.0f);

    engine.setMute(true);
    stream().pump(128);
    EXPECT_EQ(stream().output(6, 0), 0.0f);

    engine.stopListening();
    EXPECT_FALSE(engine.stereoOut()->isPlaying());
    engine.startListening();
    EXPECT_TRUE(engine.stereoOut()->isPlaying());
}

// As when the remote starts before the JACK server: silent, until the host lists the chosen
// device, which then plays the chosen pair though another device is the default.
TEST_F(PELAudioEngineDevicesTest, WithoutAnyDeviceTheClientPlaysOnceTheChosenOneIsListed) {
    backend_.removeAllDevices();
    PELAudioEngine engine(true, 3000);
    engine.setCurrentOutputDeviceUID("Fake:Eight");
    engine.setOutputChannel(2);
    engine.startClient();
    ASSERT_NE(engine.stereoOut(), nullptr);
    EXPECT_FALSE(engine.stereoOut()->isPlaying());
    EXPECT_EQ(engine.outputChannels(), 0);
    EXPECT_EQ(backend_.openStreamCount(), 0);
    loop_->advance(5.0);

    backend_.setDefaultOutputDevice(addDevice("Built-in", 2, 2));
    addDevice("Eight", 8, 8);
    loop_->advance(2.0);
    ASSERT_TRUE(engine.stereoOut()->isPlaying());
    EXPECT_EQ(engine.outputChannels(), 8);
    StereoSource source;
    source.write(engine.clientRing(), 2048);
    stream().pump(128);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(stream().output(3, 0), -1.0f);

    // What stops the audio threads at quit closes the stream: nothing calls the engine again.
    engine.stopAudioThreads();
    EXPECT_EQ(backend_.openStreamCount(), 0);
    EXPECT_EQ(engine.stereoOut(), nullptr);
}

// As when the JACK server the remote chose is up without playback ports at the remote's start:
// the default stands in, and the chosen device takes over once it lists outputs, where the
// default used to be taken as the output's own for good.
TEST_F(PELAudioEngineDevicesTest, AChosenDeviceWithoutOutputsAtTheStartIsAwaitedAndTakesOver) {
    backend_.removeAllDevices();
    backend_.setDefaultOutputDevice(addDevice("Built-in", 2, 2));
    addDevice("Eight", 8, 0);
    ASSERT_TRUE(backend_.refresh());
    PELAudioEngine engine(true, 3000);
    engine.setCurrentOutputDeviceUID("Fake:Eight");
    engine.startClient();
    loop_->advance(2.0);
    ASSERT_TRUE(engine.stereoOut()->isPlaying());
    EXPECT_EQ(engine.stereoOut()->device()->name(), "Built-in");

    // The server back with its ports; the card that stands in stays, and plays on meanwhile.
    backend_.removeDevice("Eight");
    addDevice("Eight", 8, 8);
    loop_->advance(4.0);
    ASSERT_TRUE(engine.stereoOut()->isPlaying());
    EXPECT_EQ(engine.stereoOut()->device()->name(), "Eight");
    EXPECT_EQ(engine.outputChannels(), 8);
}

}  // namespace
}  // namespace quenbril::test
