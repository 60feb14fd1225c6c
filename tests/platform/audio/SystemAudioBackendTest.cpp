#include <gtest/gtest.h>

#include "platform/audio/FakeAudioBackend.h"
#include "platform/audio/SystemAudioBackend.h"

namespace quenbril::test {
namespace {

class SilentClient : public AudioStreamClient {
  public:
    void process(const float* const*, float* const*, int, bool) override {}
};

AudioBackendDevice device(const std::string& name, int inputs, int outputs) {
    AudioBackendDevice d;
    d.name = name;
    if (inputs > 0) d.inputStreams = {inputs};
    if (outputs > 0) d.outputStreams = {outputs};
    d.defaultSampleRate = 48000.0;
    return d;
}

/// A JACK-like member with one device and an ALSA-like one with two.
class SystemAudioBackendTest : public testing::Test {
  protected:
    SystemAudioBackendTest() {
        auto jack = std::make_unique<FakeAudioBackend>();
        auto others = std::make_unique<FakeAudioBackend>();
        jack_ = jack.get();
        others_ = others.get();
        jack_->addDevice(device("system", 8, 8));
        others_->addDevice(device("hw:0", 2, 0));
        others_->addDevice(device("hw:1", 0, 2));
        others_->setDefaultOutputDevice(1);
        system_ = std::make_unique<SystemAudioBackend>(std::move(jack), std::move(others));
    }

    FakeAudioBackend* jack_ = nullptr;
    FakeAudioBackend* others_ = nullptr;
    std::unique_ptr<SystemAudioBackend> system_;
    SilentClient client_;
};

TEST_F(SystemAudioBackendTest, JointIndicesLeadToTheMemberThatOwnsTheDevice) {
    const auto devices = system_->devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].name, "system");
    EXPECT_EQ(devices[2].name, "hw:1");
    EXPECT_NE(devices[0].index, devices[1].index);
    EXPECT_NE(devices[1].index, devices[2].index);

    AudioStreamParameters parameters;
    parameters.device = devices[2].index;
    parameters.outputChannels = 2;
    std::string error;
    auto stream = system_->openStream(parameters, client_, error);
    ASSERT_TRUE(stream) << error;
    ASSERT_TRUE(others_->lastStream());
    EXPECT_EQ(others_->lastStream()->parameters.device, 1);
    EXPECT_EQ(jack_->openStreamCount(), 0);
    EXPECT_EQ(system_->openStreamCount(), 1);

    parameters.device = devices[2].index + 1;
    EXPECT_FALSE(system_->openStream(parameters, client_, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SystemAudioBackendTest, TheFirstMemberWithADefaultGivesIt) {
    const auto devices = system_->devices();
    EXPECT_EQ(system_->defaultOutputDevice(), devices[2].index);  // JACK has none: hw:1
    jack_->setDefaultOutputDevice(0);
    ASSERT_TRUE(system_->refresh());
    EXPECT_EQ(system_->defaultOutputDevice(), devices[0].index);
    EXPECT_FALSE(system_->defaultInputDevice().has_value());
}

// A JACK server that goes and comes back while an ALSA stream plays: JACK's list follows it, and
// the ALSA devices keep the indices a unit holds.
TEST_F(SystemAudioBackendTest, AMemberWithoutStreamsLooksAgainWhileAnotherPlaysAndMovesNoIndex) {
    const int hw0 = system_->devices()[1].index;
    AudioStreamParameters parameters;
    parameters.device = hw0;
    parameters.inputChannels = 2;
    std::string error;
    auto stream = system_->openStream(parameters, client_, error);
    ASSERT_TRUE(stream) << error;

    jack_->removeAllDevices();                 // the server went away
    EXPECT_TRUE(system_->refresh());           // nothing changed where a stream keeps the list
    others_->addDevice(device("hw:2", 0, 2));  // a card plugged in meanwhile
    EXPECT_FALSE(system_->refresh());  // the ALSA member keeps its list while its stream is open
    auto devices = system_->devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "hw:0");
    EXPECT_EQ(devices[0].index, hw0);

    jack_->addDevice(device("system", 8, 8));  // and came back
    jack_->setDefaultOutputDevice(0);
    system_->refresh();
    EXPECT_EQ(others_->refreshCount(), 0);
    devices = system_->devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].name, "system");
    EXPECT_EQ(system_->defaultOutputDevice(), devices[0].index);
    EXPECT_EQ(devices[1].index, hw0);
    parameters.device = hw0;
    auto again = system_->openStream(parameters, client_, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(others_->lastStream()->parameters.device, 0);
}

}  // namespace
}  // namespace quenbril::test
