// The players on a real audio server: the test's JACK dummy server, with a libjack client
// recording what the process plays.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/ATAudio/players/ATAudioPlayer.h"
#include "MonitorApp/ATAudio/players/AudioQueuePlayer.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/ATAudio/AudioFileFixture.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

/// The stretches of `samples` that sound (above a quiet threshold), as first and one-past-last
/// sample: a stretch ends where more than a period of the 1 kHz tone (48 samples) is quiet.
std::vector<std::pair<size_t, size_t>> soundingStretches(const std::vector<float>& samples) {
    std::vector<std::pair<size_t, size_t>> stretches;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) <= 0.05f) continue;
        if (stretches.empty() || i > stretches.back().second + 48) stretches.push_back({i, i});
        stretches.back().second = i + 1;
    }
    return stretches;
}

struct Counter {
    explicit Counter(const char* name)
        : observer(
              NotificationCenter::defaultCenter().addObserver(name, [this](const Notification&) {
                  ++count;
                  onMain = onMain && std::this_thread::get_id() == mainThread;
              })) {}
    std::atomic<int> count{0};
    std::atomic<bool> onMain{true};
    std::thread::id mainThread = std::this_thread::get_id();
    NotificationObserver observer;
};

struct EndDelegate : ATAudioPlayerDelegate {
    explicit EndDelegate(Counter& endNotes) : endNotes(endNotes) {}
    void audioPlayerReachedEndOfAudioFile(ATAudioPlayer&, ATAudioFile&) override {
        ++ends;
        notesBefore = endNotes.count.load();
        onMain = onMain && std::this_thread::get_id() == endNotes.mainThread;
    }
    Counter& endNotes;
    std::atomic<int> ends{0};
    int notesBefore = -1;
    bool onMain = true;
};

class ToolkitJackTest : public AudioFileFixture {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        AudioFileFixture::SetUp();
        RunLoop::setMain(&loop_);
        if (JackServer::shared().rate() != 48000 || !JackServer::shared().running()) {
            AudioBackend::shared().release();
            ASSERT_TRUE(JackServer::shared().start(48000));
            AudioBackend::shared().refresh();
        }
    }
    void TearDown() override {
        RunLoop::setMain(nullptr);
        AudioFileFixture::TearDown();
    }

    /// What the server said, for a recording in which no period came: under -S a client that
    /// does not finish its period holds every other back.
    static std::string stall(const JackTestClient& client) {
        return client.describePeriods(0, SIZE_MAX) + "jackd said:\n" + JackServer::shared().log();
    }

    /// A client recording the process's first two output ports, or null when they do not show.
    /// A stream made right after another was closed may register before the server has let go
    /// of the old client's name, so the ports are looked for a little while under either name.
    static std::unique_ptr<JackTestClient> listener() {
        auto client = std::make_unique<JackTestClient>("listener", 2, 0);
        std::vector<std::string> outs;
        for (int attempt = 0; attempt < 100 && outs.size() < 2; ++attempt) {
            if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            outs = client->ports("quenbril(-[0-9]+)?:out_.*");
            // The newest client has the greatest name ("quenbril-01" after "quenbril").
            std::string newest;
            for (const auto& port : outs) newest = std::max(newest, port.substr(0, port.find(':')));
            std::erase_if(outs, [&](const std::string& port) {
                return port.substr(0, port.find(':')) != newest;
            });
        }
        if (outs.size() < 2) return nullptr;
        for (size_t k = 0; k < 2; ++k) {
            if (!client->connect(outs[k], client->inputPort(static_cast<int>(k)))) return nullptr;
        }
        // A connection is made in the server's next graph, which takes over at a later period:
        // one per channel, a late server could start them a period apart, and the channels'
        // recordings would differ by it. The graph a client reads is the one that runs.
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(10.0);
        for (int k = 0; k < 2; ++k) {
            while (client->connections(client->inputPort(k)).empty()) {
                if (std::chrono::steady_clock::now() > deadline) return nullptr;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return client;
    }
    std::string toneFile(const std::string& name, double seconds) {
        const int frames = static_cast<int>(48000 * seconds);
        return write(name, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, frames, [](int i, int) {
            return static_cast<float>(0.5 *
                                      std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0));
        });
    }
    /// A player whose output already runs in the file's client format, so setting a file does
    /// not re-make the stream (and its ports).
    static std::unique_ptr<ATAudioPlayer> runningPlayer(ATAudioPlayerDelegate* delegate = nullptr) {
        auto player = std::make_unique<ATAudioPlayer>(delegate);
        player->output().setInputFormat({ATAudioFile::kDefaultClientFormatSampleRate, 2});
        player->play();
        EXPECT_TRUE(player->isPlaying());
        return player;
    }

    ManualRunLoop loop_{800000000.0};
};

TEST_F(ToolkitJackTest, AShortFilePlaysOnceAndEndsOnTheMainThreadAfterTheDelegate) {
    Counter ends(ATAudioPlayer::kDidReachEndOfFileNotification);
    EndDelegate delegate(ends);
    auto player = runningPlayer(&delegate);
    auto client = listener();
    ASSERT_TRUE(client);
    client->record(1.5);
    player->setAudioFile(ATAudioFile::audioFileWithURL(toneFile("short.wav", 0.2)));
    ASSERT_TRUE(loop_.runUntil([&] { return ends.count.load() > 0; }, 10.0));
    ASSERT_TRUE(client->waitRecorded(10.0)) << stall(*client);
    loop_.runPending();

    const auto left = client->recorded(0);
    const auto stretches = soundingStretches(left);
    ASSERT_FALSE(stretches.empty());
    // 0.2 s, once: a loaded dummy server that runs a few cycles late splices some periods out
    // of the recording, so it may come out a few periods short; a reading thread kept from the
    // CPU longer than the ring holds puts a gap inside it, which delays the rest and loses none.
    size_t sounding = 0;
    auto longest = stretches.front();
    for (const auto& [first, last] : stretches) {
        sounding += last - first;
        if (last - first > longest.second - longest.first) longest = {first, last};
    }
    EXPECT_NEAR(static_cast<double>(sounding), 9600.0, 1000.0);
    ASSERT_GT(longest.second - longest.first, 3000u);
    const std::span<const float> middle(left.data() + longest.first + 500,
                                        longest.second - longest.first - 1000);
    // The median period holds where a late cycle of a loaded server spliced the recording.
    EXPECT_NEAR(medianPeriodFrequency(middle, 48000.0), 1000.0, 1.0);
    EXPECT_NEAR(sineLevelDb(middle), 20 * std::log10(0.5), 0.3);
    // Both channels are taken in the same period of the recording client; should they differ,
    // the periods where either ends, and what the server said, tell how.
    const auto right = soundingStretches(client->recorded(1));
    EXPECT_EQ(right, stretches) << [&] {
        const size_t from =
            std::min(right.empty() ? 0 : right.back().second, stretches.back().second);
        const size_t to =
            std::max(right.empty() ? 0 : right.back().second, stretches.back().second);
        return client->describePeriods(from > 256 ? from - 256 : 0, to + 256) + "jackd said:\n" +
               JackServer::shared().log();
    }();

    EXPECT_EQ(ends.count.load(), 1);
    EXPECT_TRUE(ends.onMain.load());
    EXPECT_EQ(delegate.ends.load(), 1);
    EXPECT_EQ(delegate.notesBefore, 0);
    EXPECT_TRUE(delegate.onMain);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->frameIndex(), 0);
}

TEST_F(ToolkitJackTest, LoopingGoesOnWithASeekNotification) {
    Counter seeks(ATAudioPlayer::kDidSeekNotification);
    Counter ends(ATAudioPlayer::kDidReachEndOfFileNotification);
    EndDelegate delegate(ends);
    auto player = runningPlayer(&delegate);
    player->setShouldLoop(true);
    player->setAudioFile(ATAudioFile::audioFileWithURL(toneFile("loop.wav", 0.1)));
    ASSERT_TRUE(loop_.runUntil([&] { return seeks.count.load() >= 3; }, 10.0));
    auto client = listener();
    ASSERT_TRUE(client);
    // Half a second holds five loops. A gap at each loop's seam would be in every recording; on
    // a loaded machine the reading thread can also be kept from the CPU longer than the ring
    // holds, once, and that half second is recorded again.
    std::vector<float> left;
    for (int attempt = 0; attempt < 5; ++attempt) {
        client->record(0.5);
        ASSERT_TRUE(client->waitRecorded(10.0)) << stall(*client);
        left = client->recorded(0);
        if (longestSilence(left) < 2) break;
    }
    loop_.runPending();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_GE(delegate.ends.load(), 3);
    EXPECT_EQ(ends.count.load(), 0);
    EXPECT_TRUE(seeks.onMain.load());
    EXPECT_GT(peakOf(left), 0.4f);
    EXPECT_LT(longestSilence(left), 2);
}

TEST_F(ToolkitJackTest, TheAudioQueuePlayerIsSilentUntilMoreThan72000FramesAreHeld) {
    AudioQueuePlayer player;
    player.startPlaying();
    ASSERT_TRUE(player.isInitialized());
    auto client = listener();
    ASSERT_TRUE(client);
    std::vector<float> tone(24000);
    double phase = 0.0;
    auto push = [&] {
        for (float& s : tone) {
            s = static_cast<float>(0.5 * std::sin(phase));
            phase += 2.0 * std::numbers::pi * 1000.0 / 48000.0;
        }
        player.fillStereoBuffer(tone.data(), tone.data(), static_cast<uint32_t>(tone.size() * 4));
    };
    push();
    push();
    push();  // 72000 frames: the cushion, not past it.
    client->record(0.3);
    ASSERT_TRUE(client->waitRecorded(10.0)) << stall(*client);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(peakOf(client->recorded(0)), 0.0f);
    EXPECT_EQ(player.bufSize(), 72000);

    push();
    EXPECT_TRUE(player.isPlaying());
    // The recording starts once the server has begun to take the frames.
    ASSERT_TRUE(loop_.runUntil([&] { return player.bufSize() < 96000; }, 10.0));
    client->record(0.5);
    ASSERT_TRUE(client->waitRecorded(10.0)) << stall(*client);
    for (int k = 0; k < 2; ++k) {
        const auto samples = client->recorded(k);
        EXPECT_NEAR(medianPeriodFrequency(samples, 48000.0), 1000.0, 1.0);
        EXPECT_NEAR(sineLevelDb(samples), 20 * std::log10(0.5), 0.3);
        EXPECT_LT(longestSilence(samples), 2);
    }
    player.destroy();
}

}  // namespace
}  // namespace quenbril::test
