#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFileDelegate.h"
#include "MonitorApp/ATAudio/ATAudioFloatData.h"
#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "MonitorApp/ATAudio/AudioFileDecoder.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"
#include "foundation/Error.h"
#include "foundation/dispatch/Queue.h"

struct SRC_STATE_tag;

namespace quenbril {

/// Reads an audio file (WAV, AIFF, FLAC, OGG, MP3, CAF, AU, SD2 through libsndfile; AAC, MP4 and
/// M4A through FFmpeg) in a client format of the caller's choosing: float32 or signed 16- or
/// 32-bit integers, interleaved or not, any channel count (a mono file feeds every channel, a
/// mono client gets the mean of the file's channels) at any rate (converted on the fly).
/// Positions are in client frames.
///
/// Reads, seeks and waveforms only try the lock and give up when it is busy, so a reader on an
/// audio path never waits for a waveform; they still do file I/O, so the caller keeps them off
/// real-time threads. Changing the client format waits for the lock.
class ATAudioFile : public std::enable_shared_from_this<ATAudioFile> {
  public:
    /// The per-channel waveform values and their count; null and 0 when the reader was gone or
    /// busy.
    using WaveformCompletion = std::function<void(float* const* waveformData, uint32_t length)>;

    static constexpr double kDefaultClientFormatSampleRate = 44100.0;
    static constexpr uint32_t kDefaultWaveformPoints = 1024;
    static constexpr const char* kErrorDomain = "ATAudioFileErrorDomain";

    /// Stereo non-interleaved float32 at 44100 Hz.
    static AudioStreamBasicDescription defaultClientFormat();
    static const std::vector<std::string>& supportedAudioFileTypes();
    AudioStreamBasicDescription floatFormat() const { return defaultClientFormat(); }

    /// A reader, or null when the file cannot be opened (missing, damaged, not audio, or at a
    /// rate the converter cannot bring to the client's) or the client format is not one
    /// isSupportedClientFormat() takes; `error` then names the file and the reason, and the
    /// result check logs both whether or not `error` is given.
    static std::shared_ptr<ATAudioFile> audioFileWithURL(
        const std::string& url, ATAudioFileDelegate* delegate = nullptr,
        const AudioStreamBasicDescription& clientFormat = defaultClientFormat(),
        Error* error = nullptr);
    ~ATAudioFile();
    ATAudioFile(const ATAudioFile&) = delete;
    ATAudioFile& operator=(const ATAudioFile&) = delete;

    /// A new reader of the same file: default client format, no delegate, position 0.
    std::shared_ptr<ATAudioFile> copy() const;

    /// Reads up to `frames` frames (no more than the list holds) into a list laid out in the
    /// client format. `bufferSize` gets the frames read and `eof` whether none were left. With
    /// the lock busy nothing is read: 0 frames and no end of file.
    ///
    /// A read that fails (the file cannot give the frames it has) is no end of file: `error`
    /// gets the file and the reason, the list the frames read before, and the failure is logged
    /// once. Every read after it fails the same way until a seek (or a client format) has the
    /// reader try again.
    void readFrames(uint32_t frames, AudioBufferList* bufferList, uint32_t* bufferSize, bool* eof,
                    Error* error = nullptr);
    /// Dropped when the lock is busy. Frames past the end are clamped to the end.
    void seekToFrame(int64_t frame);
    int64_t frameIndex() const { return frameIndex_.load(std::memory_order_relaxed); }
    /// Seconds; 0 for an empty file.
    double currentTime() const;
    void setCurrentTime(double seconds);
    /// The time of a client frame; 0 for an empty file.
    double timeOfFrame(int64_t frame) const;
    std::string formattedCurrentTime() const;

    const AudioStreamBasicDescription& clientFormat() const { return clientFormat_; }
    /// Refused (false, with a log line naming the file and the reason, the reader as it was) for
    /// a format isSupportedClientFormat() does not take or a rate the converter cannot reach
    /// from the file's (more than 256 times apart).
    bool setClientFormat(const AudioStreamBasicDescription& clientFormat);
    const AudioStreamBasicDescription& fileFormat() const { return fileFormat_; }
    double duration() const { return duration_; }
    double totalDuration() const { return duration_; }
    std::string formattedDuration() const;
    /// Frames at the file's own rate.
    int64_t totalFrames() const { return totalFrames_; }
    /// Frames at the client's rate.
    int64_t totalClientFrames() const;
    /// The file's tags, under "title", "artist", "album", "comments", "year", "copyright",
    /// "genre" and "track number" where it has them (an MP4's other tags under their own
    /// names), and "approximate duration in seconds".
    std::map<std::string, std::string> metadata() const;
    const std::string& url() const { return url_; }

    /// One RMS value per channel for each of `points` stretches of the file (every frame of the
    /// stretch counts, whatever the client's layout); null for 0 points, no channels, an empty
    /// file, a busy lock or a file that fails to read (logged). Points are capped at
    /// totalClientFrames().
    std::shared_ptr<ATAudioFloatData> getWaveformData(uint32_t points = kDefaultWaveformPoints);
    /// The same on the reader's own queue, handed to `completion` on the main queue.
    void getWaveformData(WaveformCompletion completion);
    void getWaveformData(uint32_t points, WaveformCompletion completion);

    std::string description() const;

    ATAudioFileDelegate* delegate() const { return delegate_.load(); }
    void setDelegate(ATAudioFileDelegate* delegate) { delegate_.store(delegate); }

    /// Tests: the lock reads, seeks and waveforms try, to show what they do when it is busy.
    std::mutex& lockForTesting() { return lock_; }

  private:
    static constexpr uint32_t kChunkFrames = 1024;
    static constexpr uint32_t kEndPadding = 256;

    ATAudioFile(std::string url, ATAudioFileDelegate* delegate);
    bool open(Error* error);
    bool applyClientFormat(const AudioStreamBasicDescription& clientFormat);
    void releaseConverter();

    /// Client frames as interleaved float32 into `out`, up to the end, through `converter` when
    /// the rates differ; the lock is held.
    uint32_t readClientFrames(float* out, uint32_t frames, SRC_STATE_tag* converter);
    uint32_t readMixed(float* out, uint32_t frames);
    void seekLocked(int64_t frame);
    void tellPosition();
    void logReadFailure() const;
    static long converterInput(void* context, float** data);

    std::string url_;
    std::atomic<ATAudioFileDelegate*> delegate_{nullptr};
    std::unique_ptr<AudioFileDecoder> decoder_;
    SRC_STATE_tag* converter_ = nullptr;
    /// A linear converter for waveforms: an RMS envelope needs no band-limited interpolation,
    /// and it costs a fraction of the reading converter.
    SRC_STATE_tag* waveformConverter_ = nullptr;
    AudioStreamBasicDescription clientFormat_;
    AudioStreamBasicDescription fileFormat_;
    double duration_ = 0.0;
    int64_t totalFrames_ = 0;
    uint32_t fileChannels_ = 0;
    uint32_t clientChannels_ = 0;
    double ratio_ = 1.0;
    /// Whether the file gave its last frames to the converters (and silence after them): they
    /// get nothing more until a seek.
    bool sourceEnded_ = false;
    /// Why the last read failed, until a seek; "" when it did not.
    std::string readFailure_;
    std::atomic<int64_t> frameIndex_{0};

    // Working memory, sized with the client format.
    std::vector<float> fileChunk_;
    std::vector<float> mixedChunk_;
    std::vector<float> clientChunk_;
    std::vector<std::vector<float>> floatData_;
    std::vector<float*> floatPointers_;

    std::mutex lock_;
    dispatch::QueuePtr waveformQueue_;
};

}  // namespace quenbril
