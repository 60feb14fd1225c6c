#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "MonitorApp/ATAudio/players/ATAudioPlayerDelegate.h"

namespace quenbril {

/// Plays one audio file through an ATOutput, looping or stopping at its end, and announces every
/// change by a notification and to its delegate.
///
/// The output's audio thread only copies: a reading thread of the player's own reads ahead from
/// the file into a ring, and a slice the ring cannot fill plays as silence. The end of the file
/// (the delegate, pausing, the seek to 0 and the notifications) is handled on the main queue.
/// A file that fails to read (logged by the file) is no end: once what was read has played,
/// the player pauses where it failed, with no end announced and no loop.
/// Control calls on the main thread.
class ATAudioPlayer : private ATOutputDataSource,
                      private ATOutputDelegate,
                      private ATAudioFileDelegate {
  public:
    static constexpr const char* kDidChangeAudioFileNotification =
        "ATAudioPlayerDidChangeAudioFileNotification";
    static constexpr const char* kDidSeekNotification = "ATAudioPlayerDidSeekNotification";
    static constexpr const char* kDidChangePanNotification =
        "ATAudioPlayerDidChangePanNotification";
    static constexpr const char* kDidChangeVolumeNotification =
        "ATAudioPlayerDidChangeVolumeNotification";
    static constexpr const char* kDidReachEndOfFileNotification =
        "ATAudioPlayerDidReachEndOfFileNotification";
    static constexpr const char* kDidChangeOutputDeviceNotification =
        "ATAudioPlayerDidChangeOutputDeviceNotification";
    static constexpr const char* kDidChangePlayStateNotification =
        "ATAudioPlayerDidChangePlayStateNotification";

    /// Frames the reading thread keeps ahead of the output.
    static constexpr int kRingFrames = 8192;
    /// Frames it reads at a time, once the ring has room for them.
    static constexpr int kReadFrames = 1024;

    explicit ATAudioPlayer(ATAudioPlayerDelegate* delegate = nullptr,
                           AudioBackend& backend = AudioBackend::shared());
    ATAudioPlayer(const std::shared_ptr<ATAudioFile>& audioFile,
                  ATAudioPlayerDelegate* delegate = nullptr,
                  AudioBackend& backend = AudioBackend::shared());
    /// A player of the file at `url`; no file when it cannot be opened.
    ATAudioPlayer(const std::string& url, ATAudioPlayerDelegate* delegate = nullptr,
                  AudioBackend& backend = AudioBackend::shared());
    ~ATAudioPlayer() override;
    ATAudioPlayer(const ATAudioPlayer&) = delete;
    ATAudioPlayer& operator=(const ATAudioPlayer&) = delete;

    static ATAudioPlayer& sharedAudioPlayer();

    /// Plays; after a read failure stopped playing, the file is read again from where it failed.
    void play();
    void pause();
    /// Pauses, sets the file and plays.
    void playAudioFile(const std::shared_ptr<ATAudioFile>& audioFile);
    bool isPlaying() const { return output_->isPlaying(); }

    void seekToFrame(int64_t frame);
    void setCurrentTime(double seconds);
    double currentTime() const;
    double duration() const;
    std::string formattedCurrentTime() const;
    std::string formattedDuration() const;
    /// The frame playing now (the file itself is read ahead of it).
    int64_t frameIndex() const;
    int64_t totalFrames() const;

    /// The player plays a copy of `audioFile` (its position starts at 0); none clears the file
    /// and keeps the output's format.
    void setAudioFile(const std::shared_ptr<ATAudioFile>& audioFile);
    const std::shared_ptr<ATAudioFile>& audioFile() const { return audioFile_; }
    /// The playing file's location, or "" without one.
    std::string url() const { return audioFile_ ? audioFile_->url() : std::string(); }

    ATOutput& output() { return *output_; }
    /// Plays through `output` (the player becomes its data source and delegate).
    void setOutput(std::unique_ptr<ATOutput> output);
    const std::optional<ATAudioDevice>& device() const { return output_->device(); }
    void setDevice(const ATAudioDevice& device);
    float pan() const { return output_->pan(); }
    void setPan(float pan);
    float volume() const { return output_->volume(); }
    void setVolume(float volume);

    bool shouldLoop() const { return shouldLoop_.load(); }
    /// Looping switched on after the file's end was read ahead, but before it was played, goes
    /// on from the start there as well; switched off, the pass playing ends at the file's end,
    /// also when the start of the next was read ahead already.
    void setShouldLoop(bool shouldLoop);
    ATAudioPlayerDelegate* delegate() const { return delegate_.load(); }
    void setDelegate(ATAudioPlayerDelegate* delegate) { delegate_.store(delegate); }

    /// Frames read ahead and not yet played.
    int framesReadAhead() const;

  private:
    // The output's data source, on its audio thread.
    int output(ATOutput& output, std::span<float* const> buffers, int numberOfFrames) override;
    // The output's delegate, on the main thread.
    void changedPlayingState(ATOutput& output, bool isPlaying) override;
    void changedDevice(ATOutput& output, const ATAudioDevice& device) override;
    // The file's delegate, on the reading thread or the seeking one.
    using ATAudioFileDelegate::audioFile;
    void audioFile(ATAudioFile& file, float** buffer, uint32_t bufferSize,
                   uint32_t numberOfChannels) override;
    void audioFileUpdatedPosition(ATAudioFile& file) override;

    void adoptOutput();
    void startReading();
    void readLoop();
    /// Reads one block into the ring; false when there was nothing to do.
    bool readAhead();
    /// Drops what the ring holds: the reader skips to what is written next. Feeder lock held.
    void flushRing();
    /// Turns the first loop not yet played into the end. Feeder lock held.
    void endAtTheNextLoop();
    /// Ends the ring at `at` unless the output has played past it. Feeder lock held.
    bool cutRingAt(uint64_t at);
    /// Where the output goes on from: what it played, or the end of what a flush dropped.
    uint64_t playedUpTo() const;
    /// The output has played every ring frame it took, not only taken them. Feeder lock held.
    bool outputPlayedWhatItTook() const;
    void reachedEnd(const std::shared_ptr<ATAudioFile>& file, uint64_t generation);
    /// What was read before a read failure has played: pauses, at the frame that failed.
    void stoppedReading(const std::shared_ptr<ATAudioFile>& file, uint64_t generation);
    void post(const char* name);
    /// Runs `work` on the main queue unless the player is gone by then.
    void onMain(std::function<void(ATAudioPlayer&)> work);

    std::atomic<ATAudioPlayerDelegate*> delegate_{nullptr};
    std::atomic<bool> shouldLoop_{false};
    std::shared_ptr<ATAudioFile> audioFile_;
    std::unique_ptr<ATOutput> output_;
    AudioBackend& backend_;

    // The ring between the reading thread (writer) and the audio thread (reader): frames are
    // counted from the start, a flush makes the reader skip to `discardUntil_`, and a cut (the
    // end of a loop taken back) lowers `written_` and marks `read_`.
    mutable std::mutex feeder_;
    std::vector<std::vector<float>> ring_;
    uint32_t ringChannels_ = 0;
    std::atomic<uint32_t> audioChannels_{0};
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> read_{0};
    std::atomic<uint64_t> discardUntil_{0};
    /// The output's framesTaken() just past the last ring frame it took: once the output has
    /// played that far, so has the ring up to read_.
    std::atomic<uint64_t> takenOut_{0};
    /// Where the file ended in the ring's count, while an end waits to be played; once it was
    /// handed to the main queue, reading waits for a seek, another file or (after a failure)
    /// play().
    std::optional<uint64_t> endAt_;
    bool ended_ = false;
    /// Whether that end is a read failure rather than the file's end.
    bool readFailed_ = false;
    /// Where the file started over in the ring's count, for loops not yet played that far.
    std::deque<uint64_t> loopsAt_;
    /// Raised by every file change or seek, so a pending end of an older position is dropped.
    std::atomic<uint64_t> generation_{0};
    AudioBufferList* readList_ = nullptr;
    std::atomic<bool> stopping_{false};
    /// Work handed to the main queue holds this weakly and is dropped once the player is gone.
    std::shared_ptr<ATAudioPlayer*> alive_;
    std::thread reader_;
};

}  // namespace quenbril
