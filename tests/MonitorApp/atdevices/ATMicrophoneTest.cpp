#include <gtest/gtest.h>

#include <vector>

#include "FakeDeviceFixture.h"
#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/ATAudio/ATOutput.h"

namespace quenbril::test {
namespace {

/// Keeps the first sample of each channel of every slice.
class SliceRecorder : public ATMicrophoneDelegate {
  public:
    void hasAudioReceived(ATMicrophone&, float* const* buffers, int frames, int channels) override {
        sizes.push_back(frames);
        std::vector<float> firsts;
        for (int c = 0; c < channels; ++c) firsts.push_back(buffers[c][0]);
        slices.push_back(firsts);
    }
    std::vector<int> sizes;
    std::vector<std::vector<float>> slices;
};

class ATMicrophoneTest : public FakeDeviceFixture {
  protected:
    using Map = std::vector<int32_t>;
    void SetUp() override {
        FakeDeviceFixture::SetUp();
        backend_.setDefaultInputDevice(addDevice("Four in", 4, 0));
    }
    /// Device channel c carries the constant 10 * (c + 1).
    void fillInputs() {
        auto& stream = *backend_.lastStream();
        for (size_t c = 0; c < stream.inputs.size(); ++c) {
            std::fill(stream.inputs[c].begin(), stream.inputs[c].end(),
                      10.0f * static_cast<float>(c + 1));
        }
    }
    SliceRecorder recorder_;
};

TEST_F(ATMicrophoneTest, MapChannelsPicksDeviceChannelsInOrder) {
    ATMicrophone microphone(&recorder_);
    EXPECT_EQ(microphone.channelMap(), (Map{0, 1, 2, 3}));
    EXPECT_TRUE(microphone.mapChannels({2, 0}));
    EXPECT_EQ(microphone.channelMap(), (Map{2, 0, -1, -1}));
    EXPECT_EQ(microphone.audioStreamBasicDescription().channels, 2);

    for (const std::vector<int>& refused :
         std::vector<std::vector<int>>{{}, {4}, {-2}, {0, 1, 2, 3, 0}}) {
        EXPECT_FALSE(microphone.mapChannels(refused));
        EXPECT_EQ(microphone.channelMap(), (Map{2, 0, -1, -1}));
    }

    microphone.startFetchingAudio();
    ASSERT_NE(backend_.lastStream(), nullptr);
    // Every input of the device is opened; the map is applied in the callback.
    EXPECT_EQ(backend_.lastStream()->parameters.inputChannels, 4);
    fillInputs();
    backend_.lastStream()->pump(128);
    ASSERT_EQ(recorder_.slices.size(), 1u);
    EXPECT_EQ(recorder_.slices[0], (std::vector<float>{30.0f, 10.0f}));
}

TEST_F(ATMicrophoneTest, LongPeriodsAreHandedOnIn128FrameSlices) {
    ATMicrophone microphone(&recorder_);
    microphone.startFetchingAudio();
    fillInputs();
    backend_.lastStream()->pump(300);
    EXPECT_EQ(recorder_.sizes, (std::vector<int>{128, 128, 44}));
}

TEST_F(ATMicrophoneTest, AMapChangeWhileCapturingRemakesTheStream) {
    ATMicrophone microphone(&recorder_);
    microphone.startFetchingAudio();
    EXPECT_TRUE(microphone.mapChannels({3}));
    ASSERT_NE(backend_.lastStream(), nullptr);
    EXPECT_TRUE(backend_.lastStream()->isActive());
    fillInputs();
    backend_.lastStream()->pump(128);
    ASSERT_EQ(recorder_.slices.size(), 1u);
    EXPECT_EQ(recorder_.slices[0], (std::vector<float>{40.0f}));
}

TEST_F(ATMicrophoneTest, AsADataSourceItPlaysItsLastSlice) {
    backend_.setDefaultOutputDevice(addDevice("Out", 0, 2));
    ATMicrophone microphone(&recorder_);
    microphone.mapChannels({1, 3});
    ATOutput output;
    microphone.setOutput(&output);
    EXPECT_EQ(output.inputFormat().channels, 2);
    microphone.startFetchingAudio();
    auto* input = backend_.lastStream();
    fillInputs();
    input->pump(128);

    output.setOutputChannel(0);
    output.startPlayback();
    backend_.lastStream()->pump(128);
    EXPECT_EQ(backend_.lastStream()->output(0, 0), 20.0f);
    EXPECT_EQ(backend_.lastStream()->output(1, 127), 40.0f);
}

TEST_F(ATMicrophoneTest, WithoutAnInputDeviceNothingStarts) {
    backend_.removeAllDevices();
    backend_.setDefaultOutputDevice(addDevice("Out only", 0, 2));
    ATMicrophone microphone(&recorder_);
    EXPECT_EQ(microphone.numberOfChannels(), 0);
    EXPECT_FALSE(microphone.setDevice(*ATAudioDevice::currentOutputDevice()));
    microphone.startFetchingAudio();
    EXPECT_EQ(backend_.openStreamCount(), 0);
}

}  // namespace
}  // namespace quenbril::test
