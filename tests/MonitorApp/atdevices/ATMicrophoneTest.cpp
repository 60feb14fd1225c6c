#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeDeviceFixture.h"
#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "foundation/BoundedWorker.h"
#include "platform/audio/GuardedAudioBackend.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/TestTime.h"

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

/// Answers only the buffer list: keeps each slice's frames, the list's buffers as it found them
/// and the first and last sample of each.
class ListRecorder : public ATMicrophoneDelegate {
  public:
    void hasBufferList(ATMicrophone&, AudioBufferList* list, int frames, int channels) override {
        sizes.push_back(frames);
        EXPECT_EQ(static_cast<int>(list->mNumberBuffers), channels);
        std::vector<float> firstAndLast;
        for (uint32_t b = 0; b < list->mNumberBuffers; ++b) {
            const AudioBuffer& buffer = list->mBuffers[b];
            EXPECT_EQ(buffer.mNumberChannels, 1u);
            EXPECT_EQ(buffer.mDataByteSize, static_cast<uint32_t>(frames) * sizeof(float));
            const auto* samples = static_cast<const float*>(buffer.mData);
            firstAndLast.push_back(samples[0]);
            firstAndLast.push_back(samples[frames - 1]);
        }
        slices.push_back(firstAndLast);
        // What the delegate does to the list is its own: the next slice gets it whole again.
        list->mNumberBuffers = 0;
    }
    std::vector<int> sizes;
    std::vector<std::vector<float>> slices;
};

/// Answers both: notes the order and whether the float channels are the list's buffers.
class BothRecorder : public ATMicrophoneDelegate {
  public:
    void hasBufferList(ATMicrophone&, AudioBufferList* list, int, int) override {
        calls.push_back("list");
        list_ = list;
    }
    void hasAudioReceived(ATMicrophone&, float* const* buffers, int, int channels) override {
        calls.push_back("floats");
        for (int c = 0; c < channels; ++c) {
            if (buffers[c] != list_->mBuffers[c].mData) sameMemory = false;
        }
    }
    std::vector<std::string> calls;
    bool sameMemory = true;

  private:
    AudioBufferList* list_ = nullptr;
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

// The output's audio thread reads the capture's last slice while the capture opens again on the
// main thread (a new device, a move back, a look for the cards): the copies it reads are never
// made anew under it.
TEST_F(ATMicrophoneTest, TheOutputItFeedsReadsNothingFreedWhileTheCaptureOpensAgain) {
    backend_.setDefaultOutputDevice(addDevice("Out", 0, 2));
    ATMicrophone microphone(&recorder_);
    ATOutput output;
    microphone.setOutput(&output);
    microphone.startFetchingAudio();
    FakeAudioBackend::FakeStream* captured = backend_.lastStream();
    output.startPlayback();
    FakeAudioBackend::FakeStream* played = backend_.lastStream();
    ASSERT_TRUE(captured && played && captured != played);
    std::atomic<bool> done{false};
    std::atomic<int> periods{0};
    std::thread audio([&] {
        while (!done.load()) {
            played->pump(128);
            periods.fetch_add(1);
        }
    });
    const ATAudioDevice device = *microphone.device();
    for (int round = 0; round < 50; ++round) {
        captured->pump(128);
        const int before = periods.load();
        ASSERT_TRUE(eventually([&] { return periods.load() > before + 2; }));
        microphone.setDevice(device);
        captured = backend_.lastStream();
        ASSERT_TRUE(captured && captured != played);
    }
    done = true;
    audio.join();
    output.stopPlayback();
    microphone.closeDevice();
}

TEST_F(ATMicrophoneTest, ABufferListDelegateGetsTheRenderedSliceOfTheMappedChannels) {
    ListRecorder lists;
    ATMicrophone microphone(&lists);
    ASSERT_TRUE(microphone.mapChannels({3, 1}));
    microphone.startFetchingAudio();
    fillInputs();
    backend_.lastStream()->pump(200);
    EXPECT_EQ(lists.sizes, (std::vector<int>{128, 72}));
    ASSERT_EQ(lists.slices.size(), 2u);
    EXPECT_EQ(lists.slices[0], (std::vector<float>{40.0f, 40.0f, 20.0f, 20.0f}));
    EXPECT_EQ(lists.slices[1], (std::vector<float>{40.0f, 40.0f, 20.0f, 20.0f}));
}

TEST_F(ATMicrophoneTest, TheListComesFirstAndTheFloatChannelsAreItsOwnBuffers) {
    BothRecorder both;
    ATMicrophone microphone(&both);
    microphone.startFetchingAudio();
    backend_.lastStream()->pump(128);
    EXPECT_EQ(both.calls, (std::vector<std::string>{"list", "floats"}));
    EXPECT_TRUE(both.sameMemory) << "nothing is converted between the two";
}

// A default input that reports no channels is tried with the device side's count; the host's
// refusal is then reported as that of any device that cannot be opened.
TEST_F(ATMicrophoneTest, ADefaultInputReportingNoChannelsIsTriedWithTheInputFormatsCount) {
    backend_.removeAllDevices();
    backend_.setDefaultInputDevice(addDevice("Quiet", 0, 2, 44100.0));
    ATMicrophone microphone(&recorder_);
    ASSERT_TRUE(microphone.device().has_value());
    EXPECT_EQ(microphone.device()->inputChannelCount(), 2);
    EXPECT_EQ(microphone.numberOfChannels(), 2);
    EXPECT_EQ(microphone.inputFormat(), (ATUnitFormat{44100.0, 2}));
    EXPECT_EQ(microphone.audioStreamBasicDescription(), (ATUnitFormat{44100.0, 2}));
    EXPECT_EQ(microphone.channelMap(), (Map{0, 1}));

    testing::internal::CaptureStderr();
    microphone.startFetchingAudio();
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(backend_.openStreamCount(), 0);
    EXPECT_NE(logged.find("Could not open audio input Quiet: Invalid number of channels"),
              std::string::npos)
        << logged;
    EXPECT_TRUE(recorder_.slices.empty());
}

TEST_F(ATMicrophoneTest, WithoutAnInputDeviceNothingStarts) {
    backend_.removeAllDevices();
    backend_.setDefaultInputDevice(std::nullopt);
    backend_.setDefaultOutputDevice(addDevice("Out only", 0, 2));
    ATMicrophone microphone(&recorder_);
    EXPECT_EQ(microphone.numberOfChannels(), 0);
    microphone.startFetchingAudio();
    EXPECT_EQ(backend_.openStreamCount(), 0);
}

/// Notes the devices it is told of.
class DeviceRecorder : public SliceRecorder {
  public:
    void changedDevice(ATMicrophone&, const ATAudioDevice& device) override {
        devices.push_back(device.UID());
    }
    std::vector<std::string> devices;
};

TEST_F(ATMicrophoneTest, ADeviceWithoutInputsIsTakenWithItsInputOffUntilOneWithInputsComes) {
    addDevice("Out only", 0, 2);
    DeviceRecorder delegate;
    ATMicrophone microphone(&delegate);
    microphone.startFetchingAudio();
    ASSERT_EQ(backend_.openStreamCount(), 1);

    testing::internal::CaptureStderr();
    EXPECT_TRUE(microphone.setDevice(*ATAudioDevice::deviceWithUID("Fake:Out only")));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find("Audio input Out only has no input channels"), std::string::npos)
        << logged;
    EXPECT_EQ(microphone.device()->UID(), "Fake:Out only");
    EXPECT_EQ(delegate.devices, (std::vector<std::string>{"Fake:Out only"}));
    EXPECT_EQ(microphone.numberOfChannels(), 0);
    EXPECT_TRUE(microphone.channelMap().empty());
    EXPECT_FALSE(microphone.mapChannels({0}));
    // Nothing to capture from: no stream, and no slice.
    EXPECT_EQ(backend_.openStreamCount(), 0);
    EXPECT_TRUE(microphone.microphoneOn());

    // Capture that was on goes on with the next device that has inputs.
    EXPECT_TRUE(microphone.setDevice(*ATAudioDevice::deviceWithUID("Fake:Four in")));
    ASSERT_EQ(backend_.openStreamCount(), 1);
    EXPECT_TRUE(backend_.lastStream()->isActive());
    EXPECT_EQ(microphone.channelMap(), (Map{0, 1, 2, 3}));
    fillInputs();
    backend_.lastStream()->pump(128);
    ASSERT_EQ(delegate.slices.size(), 1u);
    EXPECT_EQ(delegate.slices[0], (std::vector<float>{10.0f, 20.0f, 30.0f, 40.0f}));
}

/// A host that lists every device without its input channels, yet opens the inputs it has.
class UncountedInputsBackend : public FakeAudioBackend {
  public:
    std::vector<AudioBackendDevice> devices() override {
        auto listed = FakeAudioBackend::devices();
        for (auto& device : listed) device.inputStreams.clear();
        return listed;
    }
};

TEST_F(ATMicrophoneTest, ADefaultInputReportingNoChannelsIsReopenedWhenItReturns) {
    UncountedInputsBackend host;
    host.setDefaultInputDevice(host.addDevice("Quiet", 2, 0));
    ATMicrophone microphone(&recorder_, host);
    ASSERT_EQ(microphone.numberOfChannels(), 2);
    microphone.startFetchingAudio();
    ASSERT_EQ(host.openStreamCount(), 1);

    host.removeAllDevices();
    loop_->advance(1.0);  // noticed; the stream is closed
    EXPECT_EQ(host.openStreamCount(), 0);
    loop_->advance(4.0);
    EXPECT_EQ(host.openStreamCount(), 0);

    host.setDefaultInputDevice(host.addDevice("Quiet", 2, 0));  // back, still without its channels
    loop_->advance(2.0);
    ASSERT_EQ(host.openStreamCount(), 1);
    EXPECT_TRUE(host.lastStream()->isActive());
    EXPECT_EQ(host.lastStream()->parameters.inputChannels, 2);
    std::fill(host.lastStream()->inputs[1].begin(), host.lastStream()->inputs[1].end(), 5.0f);
    host.lastStream()->pump(128);
    ASSERT_EQ(recorder_.slices.size(), 1u);
    EXPECT_EQ(recorder_.slices[0], (std::vector<float>{0.0f, 5.0f}));
}

// Holds the first period inside the delegate until the test lets it go, and says when it left.
class HeldPeriod : public ATMicrophoneDelegate {
  public:
    void hasBufferList(ATMicrophone&, AudioBufferList*, int, int) override {
        if (inside.exchange(true)) return;
        hold.pass();
        left = true;
    }
    Gate hold;
    std::atomic<bool> inside{false};
    std::atomic<bool> left{false};
};

TEST_F(ATMicrophoneTest, ClosingTheDeviceWaitsOutAPeriodInsideTheDelegateWhileTheHostIsStuck) {
    auto worker = std::make_shared<BoundedWorker>("JACK", "the JACK library does not answer",
                                                  scaledSeconds(30));
    FakeAudioBackend* host = nullptr;
    GuardedAudioBackend guarded(worker, [&host] {
        auto made = std::make_unique<FakeAudioBackend>();
        made->setDefaultInputDevice(made->addDevice("In", 2, 0));
        host = made.get();
        return made;
    });
    HeldPeriod engine;
    ATMicrophone microphone(&engine, guarded);
    microphone.startFetchingAudio();
    std::thread period([&] { host->lastStream()->pump(64); });
    ASSERT_TRUE(eventually([&] { return engine.inside.load(); }));
    // The library stops answering: the stream's stop cannot reach it.
    auto stuck = std::make_shared<Gate>();
    worker->setLimit(0.05);
    worker->post([stuck] { stuck->pass(); });
    ASSERT_TRUE(eventually([&] { return stuck->waiting() == 1; }));

    // As the engine's end does: after this, no period may be inside it.
    std::atomic<bool> closed{false};
    std::atomic<bool> leftFirst{false};
    std::thread closer([&] {
        microphone.closeDevice();
        leftFirst = engine.left.load();
        closed = true;
    });
    // A close that does not wait for the period returns long before this.
    eventually([&] { return closed.load(); }, scaledSeconds(0.5));
    engine.hold.open();
    closer.join();
    period.join();
    EXPECT_TRUE(leftFirst.load());
    stuck->open();
}

}  // namespace
}  // namespace quenbril::test
