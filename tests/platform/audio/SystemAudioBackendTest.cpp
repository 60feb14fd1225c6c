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
    for (int k = 0; k < 3; ++k) EXPECT_EQ(devices[static_cast<size_t>(k)].index, k);
    EXPECT_EQ(devices[2].name, "hw:1");

    AudioStreamParameters parameters;
    parameters.device = 2;
    parameters.outputChannels = 2;
    std::string error;
    auto stream = system_->openStream(parameters, client_, error);
    ASSERT_TRUE(stream) << error;
    ASSERT_TRUE(others_->lastStream());
    EXPECT_EQ(others_->lastStream()->parameters.device, 1);
    EXPECT_EQ(jack_->openStreamCount(), 0);
    EXPECT_EQ(system_->openStreamCount(), 1);

    parameters.device = 3;
    EXPECT_FALSE(system_->openStream(parameters, client_, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SystemAudioBackendTest, TheFirstMemberWithADefaultGivesIt) {
    EXPECT_EQ(system_->defaultOutputDevice(), 2);  // JACK has none set: the other's hw:1
    jack_->setDefaultOutputDevice(0);
    EXPECT_EQ(system_->defaultOutputDevice(), 0);
    EXPECT_FALSE(system_->defaultInputDevice().has_value());
}

TEST_F(SystemAudioBackendTest, IndicesStayWhileAStreamIsOpenAndMoveOnARefreshAfter) {
    AudioStreamParameters parameters;
    parameters.device = 1;
    parameters.inputChannels = 2;
    std::string error;
    auto stream = system_->openStream(parameters, client_, error);
    ASSERT_TRUE(stream) << error;

    jack_->removeAllDevices();  // the server went away
    EXPECT_FALSE(system_->refresh());
    EXPECT_EQ(system_->devices().size(), 3u);

    stream.reset();
    EXPECT_TRUE(system_->refresh());
    const auto devices = system_->devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "hw:0");
    EXPECT_EQ(system_->defaultOutputDevice(), 1);
}

}  // namespace
}  // namespace quenbril::test
