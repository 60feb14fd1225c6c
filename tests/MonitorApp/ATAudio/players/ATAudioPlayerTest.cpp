#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "MonitorApp/ATAudio/players/ATAudioPlayer.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/ATAudio/AudioFileFixture.h"
#include "tests/MonitorApp/atdevices/FakeDeviceFixture.h"

namespace quenbril {
namespace {

/// The longest real wait for the reading thread: it ends as soon as the state is there, so it
/// only bounds a stuck test on a loaded machine.
constexpr double kWait = 60.0;

/// Every notification of the player, in order, with the thread it came on.
class PlayerNotifications {
  public:
    PlayerNotifications() {
        for (const char* name :
             {ATAudioPlayer::kDidChangeAudioFileNotification, ATAudioPlayer::kDidSeekNotification,
              ATAudioPlayer::kDidChangePanNotification, ATAudioPlayer::kDidChangeVolumeNotification,
              ATAudioPlayer::kDidReachEndOfFileNotification,
              ATAudioPlayer::kDidChangeOutputDeviceNotification,
              ATAudioPlayer::kDidChangePlayStateNotification}) {
            observers_.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this](const Notification& note) {
                    std::lock_guard guard(mutex_);
                    names_.push_back(note.name);
                    threads_.push_back(std::this_thread::get_id());
                }));
        }
    }
    std::vector<std::string> names() const {
        std::lock_guard guard(mutex_);
        return names_;
    }
    int count(const std::string& name) const {
        const auto all = names();
        return static_cast<int>(std::count(all.begin(), all.end(), name));
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard guard(mutex_);
        return threads_;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        names_.clear();
        threads_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
    std::vector<std::thread::id> threads_;
    std::vector<NotificationObserver> observers_;
};

struct EndDelegate : ATAudioPlayerDelegate {
    explicit EndDelegate(PlayerNotifications& notes) : notes(notes) {}
    void audioPlayerReachedEndOfAudioFile(ATAudioPlayer&, ATAudioFile&) override {
        ++ends;
        notificationsBefore = notes.names().size();
        thread = std::this_thread::get_id();
    }
    PlayerNotifications& notes;
    int ends = 0;
    size_t notificationsBefore = 0;
    std::thread::id thread;
};

/// A fake 44.1 kHz stereo device (the player's default client rate, so nothing is converted and
/// samples come out as the file holds them) and files to play.
class ATAudioPlayerTest : public test::AudioFileFixtureOn<test::FakeDeviceFixture> {
  protected:
    void SetUp() override {
        AudioFileFixtureOn::SetUp();
        backend_.setDefaultOutputDevice(addDevice("Speakers", 0, 2, 44100.0));
    }

    /// A stereo file whose samples count up from `start` (left) and down (right).
    std::string countingFile(const std::string& name, int frames, float start = 1.0f) {
        return write(name, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, frames,
                     [start](int i, int c) {
                         return (start + static_cast<float>(i)) / 65536.0f * (c ? -1.0f : 1.0f);
                     });
    }

    /// Runs `periods` periods of 128 frames, each once the player has read ahead what it can,
    /// and returns the left channel played.
    std::vector<float> playPeriods(ATAudioPlayer& player, int periods) {
        std::vector<float> left;
        for (int p = 0; p < periods; ++p) {
            EXPECT_TRUE(loop_->runUntil(
                [&] { return player.framesReadAhead() >= 128 || ended_(player); }, kWait))
                << "period " << p;
            auto* stream = backend_.lastStream();
            if (!stream) break;
            // A stream the player paused plays silence (its buffers keep the last period).
            const bool active = stream->isActive();
            stream->pump(128);
            for (int i = 0; i < 128; ++i) left.push_back(active ? stream->output(0, i) : 0.0f);
        }
        return left;
    }
    /// The reading thread reached the end: nothing more will be read ahead. The file's position
    /// moves before its frames reach the ring, both under the player's reading lock, so the
    /// player's own position (taken under that lock) is asked first: a read under way ends.
    std::function<bool(ATAudioPlayer&)> ended_ = [](ATAudioPlayer& player) {
        if (!player.audioFile()) return true;
        const bool atEnd =
            player.audioFile()->frameIndex() >= player.audioFile()->totalClientFrames();
        if (atEnd) (void)player.frameIndex();
        return atEnd;
    };
};

TEST_F(ATAudioPlayerTest, WithoutAFileNothingIsRenderedOrAnnounced) {
    PlayerNotifications notes;
    ATAudioPlayer player;
    player.play();
    ASSERT_TRUE(player.isPlaying());
    notes.clear();
    const auto left = playPeriods(player, 4);
    EXPECT_EQ(left, std::vector<float>(512, 0.0f));
    loop_->runPending();
    EXPECT_TRUE(notes.names().empty());
    EXPECT_EQ(player.url(), "");
}

TEST_F(ATAudioPlayerTest, PlaysTheFileThenSilenceAndEndsOnceOnTheMainThread) {
    PlayerNotifications notes;
    EndDelegate delegate(notes);
    ATAudioPlayer player(countingFile("short.wav", 8820), &delegate);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidChangeAudioFileNotification), 1);
    player.play();
    const auto left = playPeriods(player, 80);  // 10240 frames: the file and then some.
    ASSERT_EQ(left.size(), 10240u);
    for (int i = 0; i < 8820; ++i) ASSERT_EQ(left[i], (1.0f + i) / 65536.0f) << i;
    for (size_t i = 8820; i < left.size(); ++i) ASSERT_EQ(left[i], 0.0f) << i;

    ASSERT_TRUE(loop_->runUntil(
        [&] { return notes.count(ATAudioPlayer::kDidReachEndOfFileNotification) > 0; }, kWait));
    loop_->runPending();
    EXPECT_EQ(delegate.ends, 1);
    EXPECT_EQ(delegate.thread, std::this_thread::get_id());
    const auto names = notes.names();
    // The delegate hears first; then the pause, the seek to 0 and the end, all on this thread.
    ASSERT_GE(names.size(), delegate.notificationsBefore + 2);
    EXPECT_EQ(names.back(), ATAudioPlayer::kDidReachEndOfFileNotification);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidReachEndOfFileNotification), 1);
    EXPECT_EQ(names[names.size() - 2], ATAudioPlayer::kDidSeekNotification);
    for (const auto& thread : notes.threads()) EXPECT_EQ(thread, std::this_thread::get_id());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.frameIndex(), 0);
}

TEST_F(ATAudioPlayerTest, AConvertingOutputPlaysTheLastFramesItsConverterHeldBeforeTheEnd) {
    // A device of 48 kHz only: the output converts the 44.1 kHz file, and its converter takes
    // frames ahead of those it plays, up to a period and more.
    backend_.setDefaultOutputDevice(addDevice("Headphones", 0, 2, 48000.0));
    PlayerNotifications notes;
    EndDelegate delegate(notes);
    ATAudioPlayer player(write("level.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, 8820,
                               [](int, int) { return 0.5f; }),
                         &delegate);
    player.play();
    ASSERT_TRUE(player.output().isConverting());
    const auto ends = [&] { return notes.count(ATAudioPlayer::kDidReachEndOfFileNotification); };
    std::vector<float> left;
    for (int p = 0; p < 100 && ends() == 0; ++p) {
        ASSERT_TRUE(loop_->runUntil(
            [&] { return player.framesReadAhead() >= 128 || ended_(player); }, kWait));
        auto* stream = backend_.lastStream();
        ASSERT_TRUE(stream);
        stream->pump(128);
        for (int i = 0; i < 128; ++i) left.push_back(stream->output(0, i));
        // Once the output has taken everything, the reading thread is given the time to hand
        // the end on, and the pause that follows it, before the next period.
        if (ended_(player) && player.framesReadAhead() == 0) {
            (void)loop_->runUntil([&] { return ends() > 0; }, 0.5);
        }
    }
    ASSERT_EQ(ends(), 1);
    EXPECT_EQ(delegate.ends, 1);
    EXPECT_EQ(delegate.thread, std::this_thread::get_id());
    // 0.2 s at 48 kHz, all of it played before the pause: none left in the converter.
    const auto level = std::count_if(left.begin(), left.end(), [](float s) { return s > 0.25f; });
    EXPECT_NEAR(static_cast<double>(level), 9600.0, 2.0);
    EXPECT_FALSE(player.isPlaying());
}

TEST_F(ATAudioPlayerTest, LoopingGoesOnFromTheStartWithASeekNotification) {
    PlayerNotifications notes;
    EndDelegate delegate(notes);
    // Looping is on before the file comes, so the reading thread loops at its first end.
    ATAudioPlayer player(&delegate);
    player.setShouldLoop(true);
    player.setAudioFile(ATAudioFile::audioFileWithURL(countingFile("loop.wav", 1000)));
    player.play();
    ended_ = [](ATAudioPlayer&) { return false; };
    const auto left = playPeriods(player, 20);
    for (int i = 0; i < 2560; ++i)
        ASSERT_EQ(left[i], (1.0f + static_cast<float>(i % 1000)) / 65536.0f) << i;
    ASSERT_TRUE(loop_->runUntil([&] { return delegate.ends >= 2; }, kWait));
    loop_->runPending();
    EXPECT_GE(notes.count(ATAudioPlayer::kDidSeekNotification), 2);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidReachEndOfFileNotification), 0);
    EXPECT_TRUE(player.isPlaying());
}

/// Also counts the reads that found the file at its end: the first gave its last frames, the
/// second met the end.
struct EndReadDelegate : EndDelegate {
    using EndDelegate::EndDelegate;
    void audioPlayer(ATAudioPlayer&, int64_t position, ATAudioFile& file) override {
        if (position >= file.totalClientFrames()) ++readsAtEnd;
    }
    std::atomic<int> readsAtEnd{0};
};

TEST_F(ATAudioPlayerTest, LoopingSwitchedOnOnceTheEndWasReadAheadGoesOnFromTheStart) {
    // A file shorter than the ring, whose end is read before it plays, and one whose last
    // stretch is read ahead while it plays.
    const auto untilTheEnd = ended_;
    for (int frames : {1000, 20000}) {
        SCOPED_TRACE(frames);
        ended_ = untilTheEnd;
        PlayerNotifications notes;
        EndReadDelegate delegate(notes);
        ATAudioPlayer player(countingFile("take" + std::to_string(frames) + ".wav", frames),
                             &delegate);
        player.play();
        // The output plays until the reading thread has read the last frames and has room for
        // the read that meets the end; then that read is waited for.
        std::vector<float> left;
        for (;;) {
            const bool lastFramesRead = player.audioFile()->frameIndex() >= frames;
            // Taken under the reading lock: a read under way has put its frames in the ring.
            (void)player.frameIndex();
            if (lastFramesRead && player.framesReadAhead() <=
                                      ATAudioPlayer::kRingFrames - ATAudioPlayer::kReadFrames) {
                break;
            }
            const auto period = playPeriods(player, 1);
            left.insert(left.end(), period.begin(), period.end());
        }
        ASSERT_TRUE(loop_->runUntil([&] { return delegate.readsAtEnd >= 2; }, kWait));
        ASSERT_LT(left.size(), static_cast<size_t>(frames));
        player.setShouldLoop(true);
        ended_ = [](ATAudioPlayer&) { return false; };
        const auto rest = playPeriods(player, (frames + 3000) / 128);
        left.insert(left.end(), rest.begin(), rest.end());
        ASSERT_GT(left.size(), static_cast<size_t>(frames + 2000));
        for (size_t i = 0; i < left.size(); ++i)
            ASSERT_EQ(left[i], (1.0f + static_cast<float>(i % frames)) / 65536.0f) << i;
        ASSERT_TRUE(loop_->runUntil([&] { return delegate.ends >= 1; }, kWait));
        loop_->runPending();
        EXPECT_GE(notes.count(ATAudioPlayer::kDidSeekNotification), 1);
        EXPECT_EQ(notes.count(ATAudioPlayer::kDidReachEndOfFileNotification), 0);
        EXPECT_TRUE(player.isPlaying());
    }
}

TEST_F(ATAudioPlayerTest, AFileThatFailsToReadPausesWhereItFailedNeitherEndingNorLooping) {
    PlayerNotifications notes;
    EndDelegate delegate(notes);
    const std::string url = countingFile("cut.wav", 44100);
    const std::string whole = contentsOf(url);
    ATAudioPlayer player(url, &delegate);
    player.setShouldLoop(true);
    player.play();
    ASSERT_TRUE(loop_->runUntil(
        [&] { return player.framesReadAhead() == ATAudioPlayer::kRingFrames; }, kWait));
    // Float stereo: the file is cut to 10000 frames while the ring holds 8192 of them.
    std::filesystem::resize_file(url, whole.size() - 44100 * 8 + 10000 * 8);
    testing::internal::CaptureStderr();
    const auto untilTheEnd = ended_;
    ended_ = [](ATAudioPlayer& player) {
        const bool failed = player.audioFile()->frameIndex() >= 10000;
        if (failed) (void)player.frameIndex();
        return failed;
    };
    const auto left = playPeriods(player, 90);
    ASSERT_EQ(left.size(), 11520u);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(left[i], (1.0f + i) / 65536.0f) << i;
    for (size_t i = 10000; i < left.size(); ++i) ASSERT_EQ(left[i], 0.0f) << i;
    ASSERT_TRUE(loop_->runUntil([&] { return !player.isPlaying(); }, kWait));
    loop_->runPending();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Failed to read audio file " + url), std::string::npos) << log;
    EXPECT_NE(log.find("ends at frame 10000"), std::string::npos) << log;
    EXPECT_EQ(delegate.ends, 0);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidReachEndOfFileNotification), 0);
    EXPECT_EQ(player.frameIndex(), 10000);

    // Once the file is whole again, playing reads on from where it failed.
    writeBytes("cut.wav", whole);
    ended_ = untilTheEnd;
    player.play();
    EXPECT_EQ(playPeriods(player, 1)[0], 10001.0f / 65536.0f);
}

TEST_F(ATAudioPlayerTest, LoopingSwitchedOffEndsThePassPlayingAtTheFilesEnd) {
    // {file frames, frames played before looping is switched off}: a file shorter than the ring,
    // in its first pass and in its second, with two passes more read ahead; a longer one 3488
    // frames before its end, with the start of the next pass read ahead; and one whose end was
    // not read yet.
    const auto untilTheEnd = ended_;
    for (const auto& [frames, played] :
         {std::pair{3000, 1280}, {3000, 4096}, {20000, 16512}, {20000, 256}}) {
        SCOPED_TRACE(std::to_string(frames) + " frames, " + std::to_string(played) + " played");
        PlayerNotifications notes;
        EndDelegate delegate(notes);
        ATAudioPlayer player(&delegate);
        player.setShouldLoop(true);
        player.setAudioFile(
            ATAudioFile::audioFileWithURL(countingFile(std::to_string(played) + ".wav", frames)));
        player.play();
        ended_ = [](ATAudioPlayer&) { return false; };
        auto left = playPeriods(player, played / 128);
        // The reading thread reads on until the ring has no room for another read.
        ASSERT_TRUE(loop_->runUntil(
            [&] {
                return player.framesReadAhead() >
                       ATAudioPlayer::kRingFrames - ATAudioPlayer::kReadFrames;
            },
            kWait));
        player.setShouldLoop(false);
        ended_ = untilTheEnd;
        const int end = (played / frames + 1) * frames;
        // Anything read ahead past the end would play within a ring's length of it.
        const auto rest = playPeriods(player, (end - played + ATAudioPlayer::kRingFrames) / 128);
        left.insert(left.end(), rest.begin(), rest.end());

        ASSERT_GE(left.size(), static_cast<size_t>(end + ATAudioPlayer::kRingFrames - 128));
        const auto heard = std::find_if(left.rbegin(), left.rend(), [](float s) { return s != 0; });
        EXPECT_EQ(left.rend() - heard, end);
        for (int i = 0; i < end; ++i)
            ASSERT_EQ(left[i], (1.0f + static_cast<float>(i % frames)) / 65536.0f) << i;
        ASSERT_TRUE(loop_->runUntil(
            [&] { return notes.count(ATAudioPlayer::kDidReachEndOfFileNotification) > 0; }, kWait));
        loop_->runPending();
        EXPECT_EQ(notes.count(ATAudioPlayer::kDidReachEndOfFileNotification), 1);
        EXPECT_EQ(delegate.ends, end / frames);  // Every loop played, and the end.
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(player.frameIndex(), 0);
    }
}

TEST_F(ATAudioPlayerTest, LoopingSwitchedOffAfterTheNextPassFailedToReadEndsAtTheFilesEnd) {
    PlayerNotifications notes;
    EndDelegate delegate(notes);
    const std::string url = countingFile("cutnext.wav", 20000);
    const std::string whole = contentsOf(url);
    ATAudioPlayer player(&delegate);
    player.setShouldLoop(true);
    player.setAudioFile(ATAudioFile::audioFileWithURL(url));
    player.play();
    const auto untilTheEnd = ended_;
    ended_ = [](ATAudioPlayer&) { return false; };
    auto left = playPeriods(player, 16512 / 128);
    ASSERT_TRUE(loop_->runUntil(
        [&] {
            return player.framesReadAhead() >
                   ATAudioPlayer::kRingFrames - ATAudioPlayer::kReadFrames;
        },
        kWait));
    // The ring holds the end of this pass and the start of the next; the file is cut (float
    // stereo) a little past where the next pass stands, and the next read fails there.
    (void)player.frameIndex();
    const int64_t cut = player.audioFile()->frameIndex() + 500;
    ASSERT_LT(cut, 20000 - ATAudioPlayer::kReadFrames);
    std::filesystem::resize_file(url, whole.size() - 20000 * 8 + cut * 8);
    testing::internal::CaptureStderr();
    auto more = playPeriods(player, ATAudioPlayer::kReadFrames / 128);
    left.insert(left.end(), more.begin(), more.end());
    ASSERT_TRUE(loop_->runUntil([&] { return player.audioFile()->frameIndex() >= cut; }, kWait));
    (void)player.frameIndex();  // The failed read is done.
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_NE(log.find("Failed to read audio file " + url), std::string::npos) << log;

    // The failure went with the next pass: this one ends, announced, rather than pausing.
    player.setShouldLoop(false);
    ended_ = untilTheEnd;
    more = playPeriods(player,
                       (20000 - static_cast<int>(left.size()) + ATAudioPlayer::kRingFrames) / 128);
    left.insert(left.end(), more.begin(), more.end());
    ASSERT_GE(left.size(), 20000u + ATAudioPlayer::kRingFrames - 128);
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(left[i], (1.0f + i) / 65536.0f) << i;
    for (size_t i = 20000; i < left.size(); ++i) ASSERT_EQ(left[i], 0.0f) << i;
    ASSERT_TRUE(loop_->runUntil(
        [&] { return notes.count(ATAudioPlayer::kDidReachEndOfFileNotification) > 0; }, kWait));
    loop_->runPending();
    EXPECT_EQ(delegate.ends, 1);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.frameIndex(), 0);
}

TEST_F(ATAudioPlayerTest, PlayingAnotherFileSwitchesAtOnceAndCopiesAreIndependent) {
    ATAudioPlayer player(countingFile("first.wav", 44100));
    player.play();
    auto left = playPeriods(player, 4);
    EXPECT_EQ(left[0], 1.0f / 65536.0f);
    auto second = ATAudioFile::audioFileWithURL(countingFile("second.wav", 44100, 30000.0f));
    ASSERT_TRUE(second);
    second->seekToFrame(500);
    player.playAudioFile(second);
    EXPECT_TRUE(player.isPlaying());
    EXPECT_NE(player.audioFile(), second);
    EXPECT_EQ(player.url(), second->url());
    left = playPeriods(player, 2);
    EXPECT_EQ(left[0], 30000.0f / 65536.0f);  // A copy starts at frame 0.
    EXPECT_EQ(second->frameIndex(), 500);

    const auto firstCopy = player.audioFile();
    player.setAudioFile(second);
    EXPECT_NE(player.audioFile(), firstCopy);
    // The new copy plays from frame 0 (the reading thread may have read ahead of it already).
    EXPECT_EQ(player.frameIndex(), 0);
    EXPECT_EQ(playPeriods(player, 1)[0], 30000.0f / 65536.0f);
}

TEST_F(ATAudioPlayerTest, SeekingPlaysFromTheNewPositionAndEveryControlIsAnnounced) {
    PlayerNotifications notes;
    ATAudioPlayer player(countingFile("long.wav", 44100));
    player.play();
    playPeriods(player, 2);
    player.seekToFrame(20000);
    auto left = playPeriods(player, 1);
    EXPECT_EQ(left[0], 20001.0f / 65536.0f);
    player.setCurrentTime(0.5);
    left = playPeriods(player, 1);
    EXPECT_NEAR(left[0] * 65536.0f, 22051.0f, 1.0f);
    EXPECT_NEAR(player.currentTime(), 0.5 + 128 / 44100.0, 1e-3);
    player.setVolume(0.5f);
    player.setPan(-1.0f);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidSeekNotification), 2);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidChangeVolumeNotification), 1);
    EXPECT_EQ(notes.count(ATAudioPlayer::kDidChangePanNotification), 1);
    EXPECT_EQ(player.volume(), 0.5f);
    EXPECT_EQ(player.pan(), -1.0f);
}

}  // namespace
}  // namespace quenbril
