#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "FakeDeviceFixture.h"
#include "MonitorApp/ATAudio/ATAudioFloatConverter.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "platform/audio/GuardedAudioBackend.h"
#include "tests/support/Eventually.h"

namespace quenbril::test {
namespace {

class ATOutputTest : public FakeDeviceFixture {
  protected:
    using Map = std::vector<int32_t>;
    void SetUp() override {
        FakeDeviceFixture::SetUp();
        backend_.setDefaultOutputDevice(addDevice("Six", 0, 6));
    }
    FakeAudioBackend::FakeStream& stream() {
        EXPECT_NE(backend_.lastStream(), nullptr);
        return *backend_.lastStream();
    }
    ConstantSource source_;
};

TEST_F(ATOutputTest, OutputChannelPlacesThePairAndRefusesChannelsOutsideTheDevice) {
    ATOutput output(&source_, 48000.0);
    EXPECT_EQ(output.channelMap(), (Map{0, -1}));
    EXPECT_TRUE(output.setOutputChannel(2));
    EXPECT_EQ(output.channelMap(), (Map{-1, -1, 0, 1, -1, -1}));
    EXPECT_TRUE(output.setOutputChannel(5));
    EXPECT_EQ(output.channelMap(), (Map{-1, -1, -1, -1, -1, 0}));

    for (int outside : {-1, 6}) {
        EXPECT_FALSE(output.setOutputChannel(outside));
        EXPECT_EQ(output.channelMap(), (Map{-1, -1, -1, -1, -1, 0}));
    }
}

TEST_F(ATOutputTest, ThePairPlaysOnTheChosenChannelsWhilePlayingAndTheRestIsSilent) {
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    ASSERT_TRUE(output.isPlaying());
    // Moving the pair while playing re-makes the stream.
    EXPECT_TRUE(output.setOutputChannel(2));
    ASSERT_TRUE(output.isPlaying());
    stream().pump(128);
    for (int channel = 0; channel < 6; ++channel) {
        const float expected = channel == 2 ? 1.0f : channel == 3 ? 2.0f : 0.0f;
        EXPECT_EQ(stream().output(channel, 0), expected) << channel;
        EXPECT_EQ(stream().output(channel, 127), expected) << channel;
    }
}

TEST_F(ATOutputTest, MapChannelsRoutesClientChannelsAndSetsTheirCount) {
    backend_.setDefaultOutputDevice(addDevice("Four", 0, 4));
    ATOutput output(&source_, 48000.0);
    EXPECT_TRUE(output.mapChannels({3, 1}));
    EXPECT_EQ(output.channelMap(), (Map{-1, 1, -1, 0}));
    EXPECT_EQ(output.inputFormat(), (ATUnitFormat{48000.0, 2}));

    for (const std::vector<int>& refused :
         std::vector<std::vector<int>>{{}, {4}, {-1}, {0, 1, 2, 3, 0}}) {
        EXPECT_FALSE(output.mapChannels(refused));
        EXPECT_EQ(output.channelMap(), (Map{-1, 1, -1, 0}));
    }

    output.startPlayback();
    stream().pump(64);
    EXPECT_EQ(stream().output(3, 10), 1.0f);
    EXPECT_EQ(stream().output(1, 10), 2.0f);
    EXPECT_EQ(stream().output(0, 10), 0.0f);
}

TEST_F(ATOutputTest, AMonoDeviceGetsTheLeftChannelAndLongPeriodsAreFilledWhole) {
    backend_.setDefaultOutputDevice(addDevice("Mono", 0, 1));
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    stream().pump(4096);
    EXPECT_EQ(stream().output(0, 0), 1.0f);
    EXPECT_EQ(stream().output(0, 4095), 1.0f);
}

TEST_F(ATOutputTest, WithoutADataSourceOrWhenFormatsAreInvalidTheOutputStaysSound) {
    ATOutput output;
    output.setOutputChannel(0);
    EXPECT_FALSE(output.setInputFormat({0.0, 0}));
    EXPECT_FALSE(output.setInputFormat({48000.0, 0}));
    EXPECT_FALSE(output.setInputFormat({NAN, 2}));
    EXPECT_EQ(output.inputFormat(), ATOutput::defaultInputFormat());
    output.startPlayback();
    stream().pump(128);
    EXPECT_EQ(stream().output(0, 5), 0.0f);
    EXPECT_EQ(stream().output(1, 5), 0.0f);
}

// A client format comes with a converter from it and float buffers of 4096 frames per channel;
// one the converter cannot read is refused and the previous one kept. Playing does not use it.
TEST_F(ATOutputTest, AClientFormatComesWithItsConverterAndFloatBuffers) {
    ATOutput output(&source_, 48000.0);
    EXPECT_EQ(output.clientFormat(), AudioStreamBasicDescription{});
    EXPECT_EQ(output.floatConverter(), nullptr);

    const AudioStreamBasicDescription mono = ATOutput::defaultClientFormat();
    EXPECT_EQ(mono.mFormatID, kAudioFormatLinearPCM);
    EXPECT_TRUE(ATAudioUtilities::isFloatFormat(mono));
    EXPECT_EQ(mono.mBitsPerChannel, 32u);
    EXPECT_EQ(mono.mChannelsPerFrame, 1u);
    EXPECT_EQ(mono.mSampleRate, 48000.0);
    ASSERT_TRUE(output.setClientFormat(mono));
    EXPECT_EQ(output.clientFormat(), mono);
    ASSERT_NE(output.floatConverter(), nullptr);
    EXPECT_EQ(output.floatConverter()->inputFormat(), mono);
    ASSERT_EQ(output.clientFloatData().size(), 1u);
    EXPECT_EQ(output.clientFloatData()[0].size(), 4096u);

    const AudioStreamBasicDescription aiff =
        ATAudioUtilities::AIFFFormatWithNumberOfChannels(4, 44100.0);
    ASSERT_TRUE(output.setClientFormat(aiff));
    EXPECT_EQ(output.floatConverter()->inputFormat(), aiff);
    ASSERT_EQ(output.clientFloatData().size(), 4u);
    EXPECT_EQ(output.clientFloatData()[3].size(), 4096u);

    AudioStreamBasicDescription aac;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mSampleRate = 44100.0;
    aac.mChannelsPerFrame = 2;
    EXPECT_FALSE(output.setClientFormat(aac));
    EXPECT_EQ(output.clientFormat(), aiff);
    EXPECT_EQ(output.floatConverter()->inputFormat(), aiff);
    EXPECT_EQ(output.clientFloatData().size(), 4u);

    output.setOutputChannel(0);
    output.startPlayback();
    stream().pump(128);
    EXPECT_EQ(stream().output(1, 7), 2.0f);
}

TEST_F(ATOutputTest, VolumeAndPanAreAGainAndABalance) {
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.setVolume(0.5f);
    output.setPan(0.5f);  // towards the right: the left is halved
    EXPECT_EQ(output.volume(), 0.5f);
    EXPECT_EQ(output.pan(), 0.5f);
    output.startPlayback();
    stream().pump(16);
    EXPECT_FLOAT_EQ(stream().output(0, 0), 1.0f * 0.5f * 0.5f);
    EXPECT_FLOAT_EQ(stream().output(1, 0), 2.0f * 0.5f);
    output.setVolume(7.0f);
    EXPECT_EQ(output.volume(), 1.0f);
}

TEST_F(ATOutputTest, ADeviceThatRefusesTheRateIsConverted) {
    backend_.setDefaultOutputDevice(addDevice("CD rate", 0, 2, 44100.0));
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    ASSERT_TRUE(output.isPlaying());
    EXPECT_TRUE(output.isConverting());
    EXPECT_EQ(output.streamDescription().sampleRate, 44100.0);
    for (int i = 0; i < 20; ++i) stream().pump(128);
    // A constant passes the converter unchanged once its filter has filled.
    EXPECT_NEAR(stream().output(0, 100), 1.0f, 1e-3);
    EXPECT_NEAR(stream().output(1, 100), 2.0f, 1e-3);
}

TEST_F(ATOutputTest, FramesCountAsPlayedOnceTheirPeriodWasWrittenNotWhenTaken) {
    {
        ATOutput direct(&source_, 48000.0);
        direct.startPlayback();
        stream().pump(128);
        EXPECT_EQ(direct.framesTaken(), 128u);
        EXPECT_EQ(direct.framesPlayed(), 128u);
    }
    backend_.setDefaultOutputDevice(addDevice("CD rate", 0, 2, 44100.0));
    ASSERT_TRUE(backend_.refresh());
    ATOutput converting(&source_, 48000.0);
    converting.startPlayback();
    ASSERT_TRUE(converting.isConverting());
    for (int i = 0; i < 10; ++i) {
        stream().pump(128);
        // Device frame n is client frame n * 48000 / 44100; the converter has taken ahead.
        EXPECT_EQ(converting.framesPlayed(), static_cast<uint64_t>(128 * (i + 1) / 0.91875));
        EXPECT_GT(converting.framesTaken(), converting.framesPlayed());
    }
    // A stream re-made drops what its converter held: it will not play, and no one waits for it.
    ASSERT_TRUE(converting.setInputFormat({44100.0, 2}));
    EXPECT_EQ(converting.framesPlayed(), converting.framesTaken());
}

TEST_F(ATOutputTest, ALostDeviceIsLoggedOnceAndReopenedByUIDWhenItReturns) {
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(2);
    output.startPlayback();
    backend_.removeAllDevices();

    loop_->advance(1.0);  // noticed; the stream is closed
    EXPECT_EQ(backend_.openStreamCount(), 0);
    EXPECT_FALSE(output.isPlaying());
    loop_->advance(4.0);  // nothing to reopen yet, but the host's list is asked for again
    EXPECT_GE(backend_.refreshCount(), 1);
    EXPECT_EQ(backend_.openStreamCount(), 0);

    addDevice("Other", 0, 2);
    backend_.setDefaultOutputDevice(0);
    addDevice("Six", 0, 6);  // back, under another number
    loop_->advance(2.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:Six");
    EXPECT_EQ(stream().parameters.device, 1);
    stream().pump(32);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(stream().output(3, 0), 2.0f);
}

TEST_F(ATOutputTest, ADeviceThatCannotBeOpenedKeepsThePreviousOne) {
    addDevice("Odd", 0, 2, 0.0);  // accepts no rate
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    const auto refused = ATAudioDevice::deviceWithUID("Fake:Odd");
    ASSERT_TRUE(refused.has_value());
    EXPECT_FALSE(output.setDevice(*refused));
    EXPECT_EQ(output.device()->UID(), "Fake:Six");
    EXPECT_TRUE(output.isPlaying());
}

TEST_F(ATOutputTest, ADeviceChosenWhileStoppedIsTheOneTheNextStartPlays) {
    addDevice("Two", 0, 2);
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    output.stopPlayback();
    ASSERT_TRUE(output.setDevice(*ATAudioDevice::deviceWithUID("Fake:Two")));
    output.startPlayback();
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(stream().parameters.device, 1);
    EXPECT_EQ(backend_.openStreamCount(), 1);
}

// While playback is wanted and nothing plays, the output tries again every 2 s, saying so once.
TEST_F(ATOutputTest, AFirstStartWhoseOpenFailsPlaysOnceTheHostAnswers) {
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    backend_.setOpensFail(true);
    testing::internal::CaptureStderr();
    output.startPlayback();
    loop_->advance(9.0);
    const int opens = backend_.openCount();
    backend_.setOpensFail(false);
    loop_->advance(2.0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_GE(opens, 4);
    ASSERT_TRUE(output.isPlaying()) << log;
    stream().pump(16);
    EXPECT_EQ(stream().output(1, 0), 2.0f);
    EXPECT_EQ(lines(log, "does not play"), 1u) << log;
    EXPECT_EQ(lines(log, "Could not open"), 1u) << "the tries are quiet: " << log;
    EXPECT_EQ(lines(log, "is back"), 1u) << log;
}

TEST_F(ATOutputTest, AStreamThatOpensButDoesNotStartIsClosedAndTriedAgain) {
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    backend_.setStartsFail(true);
    output.startPlayback();
    EXPECT_EQ(backend_.openStreamCount(), 0);
    backend_.setStartsFail(false);
    loop_->advance(3.0);
    ASSERT_TRUE(output.isPlaying());

    // Lost, then reopened on a host whose starts fail for a while: each try closes what it
    // opened, so the host can look again when its devices change.
    testing::internal::CaptureStderr();
    stream().lose();
    backend_.setStartsFail(true);
    loop_->advance(5.0);
    const int refreshes = backend_.refreshCount();
    EXPECT_EQ(backend_.openStreamCount(), 0);
    addDevice("Two", 0, 2);
    loop_->advance(2.0);
    EXPECT_EQ(backend_.openStreamCount(), 0);
    addDevice("Three", 0, 2);
    loop_->advance(2.0);
    EXPECT_EQ(backend_.refreshCount(), refreshes + 2);
    backend_.setStartsFail(false);
    loop_->advance(2.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(output.isPlaying()) << log;
    EXPECT_EQ(lines(log, "went away"), 1u) << log;
    EXPECT_EQ(lines(log, "is back"), 1u) << log;
    EXPECT_EQ(lines(log, "Audio output: Fake, device Six"), 1u)
        << "only the open that plays: " << log;
}

// The default stands in while the output's own device is away, said by name; the own device,
// kept, is played again with its pair as soon as it is listed.
TEST_F(ATOutputTest, TheDefaultStandsInWhileTheOwnDeviceIsAwayAndTheOwnOneReturns) {
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(2);
    output.startPlayback();
    testing::internal::CaptureStderr();
    backend_.removeAllDevices();
    backend_.setDefaultOutputDevice(addDevice("Builtin", 0, 2));
    loop_->advance(4.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");
    stream().pump(16);
    EXPECT_EQ(stream().output(0, 0), 1.0f);  // the stand-in plays its first pair
    loop_->advance(10.0);
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");

    addDevice("Six", 0, 6);
    loop_->advance(2.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(output.isPlaying()) << log;
    EXPECT_EQ(output.device()->UID(), "Fake:Six");
    EXPECT_EQ(backend_.openStreamCount(), 1);
    stream().pump(16);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(stream().output(0, 0), 0.0f);
    EXPECT_EQ(lines(log, "Six is not there; playing on Builtin until it is back"), 1u) << log;
    EXPECT_EQ(lines(log, "back on Six"), 1u) << log;
    EXPECT_EQ(lines(log, "the audio device is back"), 0u) << "Builtin is not the device: " << log;
}

// A device stored in the settings that is not there at the start: the default stands in until it
// comes, and then it plays on the stored channel.
TEST_F(ATOutputTest, AnAwaitedDeviceTakesOverFromTheDefaultWhenItComes) {
    backend_.removeAllDevices();
    ATOutput output(&source_, 48000.0);
    backend_.setDefaultOutputDevice(addDevice("Builtin", 0, 2));
    output.awaitDevice("Fake:Six", 4);
    output.startPlayback();
    loop_->advance(3.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");
    addDevice("Six", 0, 6);
    loop_->advance(2.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:Six");
    stream().pump(16);
    EXPECT_EQ(stream().output(4, 0), 1.0f);
    EXPECT_EQ(stream().output(5, 0), 2.0f);
}

/// Says when the host's thread is inside a period.
class EnteredSource : public ATOutputDataSource {
  public:
    int output(ATOutput&, std::span<float* const>, int) override {
        entered = true;
        return 0;
    }
    std::atomic<bool> entered{false};
};

// The host's thread may be inside a stand-in's period when the own device comes back: the move
// must leave what that period reads alone until its stream is closed.
TEST_F(ATOutputTest, MovingBackFromTheStandInLeavesAPeriodInProgressAlone) {
    FakeAudioBackend* host = nullptr;
    GuardedAudioBackend guarded("Fake host", "the fake host does not answer", [&host] {
        auto made = std::make_unique<FakeAudioBackend>();
        made->setDefaultOutputDevice(made->addDevice("Builtin", 0, 2));
        host = made.get();
        return made;
    });
    EnteredSource source;
    ATOutput output(&source, 48000.0, guarded);
    output.awaitDevice("Fake:Six", 4);
    output.startPlayback();
    ASSERT_TRUE(output.isPlaying());
    std::thread period([host] { host->lastStream()->pump(16); });
    ASSERT_TRUE(eventually([&] { return source.entered.load(); }));
    host->addDevice("Six", 0, 6);
    loop_->advance(2.0);
    period.join();
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:Six");
}

TEST_F(ATOutputTest, WithNoDeviceAtFirstTheDefaultPlaysOnceTheHostListsOne) {
    backend_.removeAllDevices();
    ATOutput output(&source_, 48000.0);
    output.startPlayback();
    loop_->advance(5.0);
    // Stopped on purpose: nothing is tried any more.
    output.stopPlayback();
    const int refreshes = backend_.refreshCount();
    backend_.setDefaultOutputDevice(addDevice("Late", 0, 2));
    loop_->advance(5.0);
    EXPECT_EQ(backend_.refreshCount(), refreshes);
    EXPECT_FALSE(output.isPlaying());

    testing::internal::CaptureStderr();
    output.startPlayback();
    loop_->advance(3.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(output.isPlaying()) << log;
    EXPECT_EQ(output.device()->UID(), "Fake:Late");
    EXPECT_EQ(lines(log, "does not play"), 1u) << log;
}

TEST_F(ATOutputTest, AChangeWhilePlayingWhoseReopenFailsIsTriedAgain) {
    addDevice("Two", 0, 2);
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    testing::internal::CaptureStderr();
    backend_.setOpensFail(true);
    // Refused, and the previous device does not open again either.
    EXPECT_FALSE(output.setDevice(*ATAudioDevice::deviceWithUID("Fake:Two")));
    EXPECT_EQ(output.device()->UID(), "Fake:Six");
    EXPECT_FALSE(output.isPlaying());
    backend_.setOpensFail(false);
    loop_->advance(3.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(stream().parameters.device, 0);

    // A setting is taken though its stream does not open; the stream comes with the watch.
    backend_.setOpensFail(true);
    EXPECT_TRUE(output.setOutputChannel(2));
    backend_.setOpensFail(false);
    loop_->advance(3.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(output.isPlaying()) << log;
    stream().pump(16);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(lines(log, "does not play"), 2u) << "once per loss: " << log;
}

}  // namespace
}  // namespace quenbril::test
