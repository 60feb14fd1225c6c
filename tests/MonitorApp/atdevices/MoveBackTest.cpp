#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "FakeDeviceFixture.h"
#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/ATAudio/ATOutput.h"

namespace quenbril::test {
namespace {

/// Counts the frames captured and keeps the last sample of the first channel.
class Frames : public ATMicrophoneDelegate {
  public:
    void hasAudioReceived(ATMicrophone&, float* const* buffers, int frames, int) override {
        count += frames;
        last = buffers[0][frames - 1];
    }
    int count = 0;
    float last = 0.0f;
};

/// A card is a device of the fake host: name, inputs, outputs, rate.
struct Card {
    std::string name;
    int inputs;
    int outputs;
    double rate = 48000.0;
    bool operator==(const Card&) const = default;
};

// The units on a host that follows the real hosts' rules: it lists what it found at its last
// look, looks only while none of its streams is open, says when its cards may have changed, and
// ends the streams on a card that is pulled out.
class MoveBackTest : public FakeDeviceFixture {
  protected:
    /// The machine has these cards now, the first with outputs (and the first with inputs) the
    /// default. A card it had that is not among them, or is back otherwise (other channels,
    /// another rate), was pulled out, which ends its streams; the cards that stay play on.
    void machine(const std::vector<Card>& cards) {
        for (const Card& card : std::vector<Card>(plugged_)) {
            if (std::find(cards.begin(), cards.end(), card) != cards.end()) continue;
            backend_.removeDevice(card.name);
            std::erase(plugged_, card);
        }
        for (const Card& card : cards) {
            if (std::find(plugged_.begin(), plugged_.end(), card) != plugged_.end()) continue;
            addDevice(card.name, card.inputs, card.outputs, card.rate);
            plugged_.push_back(card);
        }
        backend_.setDefaultOutputDevice(firstWith(cards, &Card::outputs));
        backend_.setDefaultInputDevice(firstWith(cards, &Card::inputs));
    }
    /// The machine has `cards` from then on, and the units' watches run for 4 s.
    void leave(const std::vector<Card>& cards) {
        machine(cards);
        loop_->advance(4.0);
    }
    FakeAudioBackend::FakeStream& stream() {
        EXPECT_NE(backend_.lastStream(), nullptr);
        return *backend_.lastStream();
    }
    static ATAudioDevice listed(const std::string& name) {
        auto device = ATAudioDevice::deviceWithUID("Fake:" + name);
        EXPECT_TRUE(device.has_value()) << name;
        return device.value_or(ATAudioDevice{});
    }
    ConstantSource source_;

  private:
    /// The machine's index of the first of `cards` with channels in `count`'s direction.
    std::optional<int> firstWith(const std::vector<Card>& cards, int Card::*count) const {
        for (const Card& card : cards) {
            if (card.*count <= 0) continue;
            const auto at = std::find(plugged_.begin(), plugged_.end(), card);
            return static_cast<int>(at - plugged_.begin());
        }
        return std::nullopt;
    }
    /// The fake host's cards, in its order.
    std::vector<Card> plugged_;
};

// The card a USB output and capture use is pulled and plugged in again while the default stands
// in for it: the stand-in's streams keep the host from looking, until the host says its cards
// changed; then both units are back on the card.
TEST_F(MoveBackTest, ARepluggedCardIsMovedBackToByTheOutputAndTheCapture) {
    machine({{"Builtin", 2, 2}, {"USB", 2, 2}});
    Frames frames;
    ATMicrophone microphone(&frames);
    ATOutput output(&source_, 48000.0);
    ASSERT_TRUE(microphone.setDevice(listed("USB")));
    ASSERT_TRUE(output.setDevice(listed("USB")));
    microphone.startFetchingAudio();
    output.startPlayback();
    ASSERT_EQ(backend_.openStreamCount(), 2);

    testing::internal::CaptureStderr();
    leave({{"Builtin", 2, 2}});
    ASSERT_EQ(backend_.openStreamCount(), 2);
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");
    EXPECT_EQ(microphone.device()->UID(), "Fake:Builtin");

    machine({{"Builtin", 2, 2}, {"USB", 2, 2}});
    loop_->advance(2.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(backend_.openStreamCount(), 2) << log;
    EXPECT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:USB") << log;
    EXPECT_EQ(microphone.device()->UID(), "Fake:USB") << log;
    // Each unit saw its own stream end with the card.
    EXPECT_EQ(lines(log, "Audio output: the audio device went away"), 1u) << log;
    EXPECT_EQ(lines(log, "Audio input: the audio device went away"), 1u) << log;
    EXPECT_EQ(lines(log, "Audio output: USB is not there; playing on Builtin until it is back"), 1u)
        << log;
    EXPECT_EQ(lines(log, "Audio input: USB is not there; capturing from Builtin until it is back"),
              1u)
        << log;
    EXPECT_EQ(lines(log, "Audio output: back on USB"), 1u) << log;
    EXPECT_EQ(lines(log, "Audio input: back on USB"), 1u) << log;
}

// A card stored in the settings and plugged in only after the start, while the default plays.
TEST_F(MoveBackTest, ACardPluggedInAfterTheStartTakesOverFromTheDefault) {
    machine({{"Builtin", 0, 2}});
    ATOutput output(&source_, 48000.0);
    output.awaitDevice("Fake:USB", 2);
    output.startPlayback();
    loop_->advance(3.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");

    machine({{"Builtin", 0, 2}, {"USB", 0, 4}});
    loop_->advance(2.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:USB");
    stream().pump(16);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(stream().output(3, 0), 2.0f);
}

// A card plugged in after the host's last look and before the output is made: the output's
// watch, made after the change, still has the host look for it.
TEST_F(MoveBackTest, ACardPluggedInBeforeTheOutputIsMadeIsLookedForAndTakesOver) {
    machine({{"Builtin", 0, 2}});
    ASSERT_FALSE(backend_.devices().empty());
    machine({{"Builtin", 0, 2}, {"USB", 0, 2}});

    ATOutput output(&source_, 48000.0);
    output.awaitDevice("Fake:USB", 2);
    output.startPlayback();
    loop_->advance(4.0);
    ASSERT_TRUE(output.isPlaying());
    EXPECT_EQ(output.device()->UID(), "Fake:USB");
}

// The capture's own card is back but does not open for a while (another program holds it): the
// stand-in captures on, with no gap, and the capture is back on its card once it opens.
TEST_F(MoveBackTest, ACaptureWhoseMoveBackFailsCapturesOnTheStandInUntilItsCardOpens) {
    machine({{"Builtin", 2, 0}, {"Interface", 4, 0}});
    Frames frames;
    ATMicrophone microphone(&frames);
    ASSERT_TRUE(microphone.setDevice(listed("Interface")));
    microphone.startFetchingAudio();
    leave({{"Builtin", 2, 0}});
    ASSERT_EQ(microphone.device()->UID(), "Fake:Builtin");

    testing::internal::CaptureStderr();
    backend_.setBusy("Interface", true);
    machine({{"Builtin", 2, 0}, {"Interface", 4, 0}});
    for (int second = 0; second < 20; ++second) {
        loop_->advance(1.0);
        ASSERT_EQ(backend_.openStreamCount(), 1) << second;
        const int before = frames.count;
        stream().pump(128);
        ASSERT_EQ(frames.count, before + 128) << "the stand-in captures, second " << second;
    }
    EXPECT_EQ(microphone.device()->UID(), "Fake:Builtin");

    backend_.setBusy("Interface", false);
    loop_->advance(40.0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(microphone.device()->UID(), "Fake:Interface") << log;
    ASSERT_EQ(backend_.openStreamCount(), 1);
    EXPECT_TRUE(stream().isActive());
    EXPECT_EQ(lines(log, "Audio input: back on Interface"), 1u) << log;
}

// A sound server back at another rate: the capture opens at the server's and hands its client
// the rate it asked for.
TEST_F(MoveBackTest, ACaptureOpensAtTheDevicesRateAndConverts) {
    machine({{"system", 2, 0, 48000.0}});
    Frames frames;
    ATMicrophone microphone(&frames);
    microphone.startFetchingAudio();
    ASSERT_EQ(stream().parameters.sampleRate, 48000.0);
    leave({{"system", 2, 0, 44100.0}});
    ASSERT_EQ(backend_.openStreamCount(), 1);
    EXPECT_EQ(stream().parameters.sampleRate, 44100.0);
    EXPECT_EQ(microphone.audioStreamBasicDescription().sampleRate, 48000.0);
    for (auto& channel : stream().inputs) std::fill(channel.begin(), channel.end(), 0.5f);
    for (int period = 0; period < 100; ++period) stream().pump(441);
    // 44,100 frames of the server are 48,000 of the client's, less the converter's delay.
    EXPECT_NEAR(frames.count, 48000, 200);
    EXPECT_NEAR(frames.last, 0.5f, 1e-3);
}

// A sound server back without playback ports lists its device with nothing to play on: the
// default plays, nothing is tried on the server's device, and once the server is back with its
// ports the output is on them at once, however long the wait was.
TEST_F(MoveBackTest, ADeviceListedWithoutOutputsIsNotMovedToAndItsReturnIsTakenAtOnce) {
    machine({{"system", 8, 8}, {"Builtin", 0, 2}});
    ATOutput output(&source_, 48000.0);
    output.setOutputChannel(0);
    output.startPlayback();
    ASSERT_EQ(output.device()->UID(), "Fake:system");

    testing::internal::CaptureStderr();
    leave({{"Builtin", 0, 2}});
    ASSERT_EQ(output.device()->UID(), "Fake:Builtin");
    machine({{"system", 8, 0}, {"Builtin", 0, 2}});
    const int opens = backend_.openCount();
    loop_->advance(40.0);
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");
    // The one open: the stand-in again after the host's look.
    EXPECT_LE(backend_.openCount(), opens + 1);
    EXPECT_TRUE(output.isPlaying());

    machine({{"system", 8, 2}, {"Builtin", 0, 2}});
    loop_->advance(2.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(output.isPlaying()) << log;
    EXPECT_EQ(output.device()->UID(), "Fake:system") << log;
    EXPECT_EQ(lines(log, "back on system"), 1u) << log;
}

// The pair the user picked is kept whatever device plays: one back with fewer channels plays its
// first pair, said in the log, and the pick is taken again once the device has its channels.
TEST_F(MoveBackTest, ADeviceBackWithFewerChannelsPlaysItsFirstPairAndThePickReturnsWithThem) {
    machine({{"Eight", 0, 8}});
    ATOutput output(&source_, 48000.0);
    ASSERT_TRUE(output.setOutputChannel(6));
    output.startPlayback();

    testing::internal::CaptureStderr();
    leave({{"Eight", 0, 2}});
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(output.isPlaying()) << log;
    stream().pump(16);
    EXPECT_EQ(stream().output(0, 0), 1.0f) << log;
    EXPECT_EQ(stream().output(1, 0), 2.0f) << log;
    EXPECT_EQ(lines(log,
                    "Audio output: channel 8 is past the 2 channels of Eight; taking its "
                    "first"),
              1u)
        << log;

    leave({{"Eight", 0, 8}});
    ASSERT_TRUE(output.isPlaying());
    stream().pump(16);
    EXPECT_EQ(stream().output(0, 0), 0.0f);
    EXPECT_EQ(stream().output(6, 0), 1.0f);
    EXPECT_EQ(stream().output(7, 0), 2.0f);
}

// The pair chosen while the stand-in plays is the one the own device plays once back.
TEST_F(MoveBackTest, APairChosenWhileTheStandInPlaysStandsAfterTheMoveBack) {
    machine({{"Six", 0, 6}, {"Quad", 0, 4}});
    ATOutput output(&source_, 48000.0);
    ASSERT_TRUE(output.setOutputChannel(4));
    output.startPlayback();
    leave({{"Quad", 0, 4}});
    ASSERT_EQ(output.device()->UID(), "Fake:Quad");
    ASSERT_TRUE(output.setOutputChannel(2));

    machine({{"Six", 0, 6}, {"Quad", 0, 4}});
    loop_->advance(2.0);
    ASSERT_EQ(output.device()->UID(), "Fake:Six");
    stream().pump(16);
    EXPECT_EQ(stream().output(2, 0), 1.0f);
    EXPECT_EQ(stream().output(3, 0), 2.0f);
    EXPECT_EQ(stream().output(4, 0), 0.0f);
}

// While nothing changes the host is not asked to look and no stream is broken, however long the
// output stands in for its device.
TEST_F(MoveBackTest, NothingChangedNothingIsLookedAtOrBroken) {
    machine({{"Builtin", 2, 2}, {"USB", 0, 2}});
    Frames frames;
    ATMicrophone microphone(&frames);
    ATOutput output(&source_, 48000.0);
    ASSERT_TRUE(output.setDevice(listed("USB")));
    output.startPlayback();
    leave({{"Builtin", 2, 2}});
    ASSERT_EQ(output.device()->UID(), "Fake:Builtin");
    microphone.startFetchingAudio();
    ASSERT_EQ(backend_.openStreamCount(), 2);

    const int asked = backend_.refreshesAsked();
    const int opens = backend_.openCount();
    auto* streamHeld = backend_.lastStream();
    loop_->advance(60.0);
    EXPECT_EQ(backend_.refreshesAsked(), asked);
    EXPECT_EQ(backend_.openCount(), opens);
    EXPECT_EQ(backend_.lastStream(), streamHeld);
    EXPECT_TRUE(output.isPlaying());
    EXPECT_EQ(backend_.openStreamCount(), 2);
}

}  // namespace
}  // namespace quenbril::test
