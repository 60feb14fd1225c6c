#include <gtest/gtest.h>

#include <vector>

#include "MonitorApp/ATAudio/players/AudioQueuePlayer.h"
#include "tests/MonitorApp/atdevices/FakeDeviceFixture.h"

namespace quenbril {
namespace {

class AudioQueuePlayerTest : public test::FakeDeviceFixture {
  protected:
    void SetUp() override {
        FakeDeviceFixture::SetUp();
        backend_.setDefaultOutputDevice(addDevice("Speakers", 0, 2, 48000.0));
    }

    /// Pushes `frames` stereo frames counting up from `start` (right: negated).
    static void push(AudioQueuePlayer& player, int frames, int start = 0) {
        std::vector<float> left(static_cast<size_t>(frames)), right(left.size());
        for (int i = 0; i < frames; ++i) {
            left[static_cast<size_t>(i)] = static_cast<float>(start + i + 1);
            right[static_cast<size_t>(i)] = -left[static_cast<size_t>(i)];
        }
        player.fillStereoBuffer(left.data(), right.data(), static_cast<uint32_t>(frames * 4));
    }
};

TEST_F(AudioQueuePlayerTest, StaysSilentUntilMoreThanTheCushionIsHeld) {
    AudioQueuePlayer player;
    player.startPlaying();
    ASSERT_TRUE(player.isInitialized());
    auto* stream = backend_.lastStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->parameters.framesPerBuffer, AudioQueuePlayer::kBufferFrames);
    EXPECT_EQ(stream->parameters.outputChannels, 2);

    push(player, 48000);
    stream->pump(512);
    EXPECT_FALSE(player.isPlaying());
    for (int i = 0; i < 512; ++i) ASSERT_EQ(stream->output(0, i), 0.0f);
    push(player, 24000, 48000);
    EXPECT_FALSE(player.isPlaying());  // 72000 is the target, not past it.
    push(player, 1, 72000);
    EXPECT_TRUE(player.isPlaying());
    stream->pump(512);
    EXPECT_EQ(stream->output(0, 0), 1.0f);
    EXPECT_EQ(stream->output(1, 511), -512.0f);
    EXPECT_EQ(player.bufSize(), 72001 - 512);
}

TEST_F(AudioQueuePlayerTest, AMonoFillIntoTwoChannelsFeedsBoth) {
    AudioQueuePlayer player;
    player.startPlaying();
    // The right channel first holds something else, which a mono fill must not bring back.
    push(player, 1000);
    std::vector<float> mono(80000);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = 0.25f + static_cast<float>(i);
    player.fillBuffer(mono.data(), static_cast<uint32_t>(mono.size() * 4), 0);
    EXPECT_EQ(player.sampleCounter(), 80000);
    ASSERT_TRUE(player.isPlaying());
    auto* stream = backend_.lastStream();
    stream->pump(1024);  // The 1000 stereo frames and the first 24 mono ones.
    stream->pump(512);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(stream->output(0, i), mono[static_cast<size_t>(24 + i)]) << i;
        ASSERT_EQ(stream->output(1, i), mono[static_cast<size_t>(24 + i)]) << i;
    }
}

TEST_F(AudioQueuePlayerTest, ARateOrChannelChangeDisposesOfTheOutputAndEmptiesTheRing) {
    AudioQueuePlayer player;
    player.startPlaying();
    push(player, 80000);
    ASSERT_TRUE(player.isPlaying());
    player.setSampleRate(48000.0f);  // The same rate keeps everything.
    EXPECT_TRUE(player.isInitialized());
    player.setSampleRate(44100.0f);
    EXPECT_FALSE(player.isInitialized());
    EXPECT_EQ(backend_.openStreamCount(), 0);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.bufSize(), 0);

    backend_.setAcceptedRates({44100.0, 48000.0});
    player.setChannels(1);
    player.startPlaying();
    ASSERT_TRUE(player.isInitialized());
    EXPECT_EQ(backend_.lastStream()->parameters.outputChannels, 1);
    EXPECT_EQ(backend_.lastStream()->parameters.sampleRate, 44100.0);
    // The cushion follows the rate: 1.5 s at 44.1 kHz.
    std::vector<float> mono(66151, 0.5f);
    player.fillBuffer(mono.data(), static_cast<uint32_t>(mono.size() * 4), 0);
    EXPECT_TRUE(player.isPlaying());
}

}  // namespace
}  // namespace quenbril
