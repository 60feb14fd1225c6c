#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"

namespace quenbril {

/// A file's audio as interleaved float32 at the file's own rate and channel count: what the
/// file reader reads every type through. Used from one thread at a time.
class AudioFileDecoder {
  public:
    virtual ~AudioFileDecoder() = default;

    /// Reads up to `frames` frames into `interleaved`; fewer only at the end of the file or when
    /// the read failed, which readFailure() then tells.
    virtual uint32_t read(float* interleaved, uint32_t frames) = 0;
    /// Why the last read stopped short of the end; "" when it did not fail.
    const std::string& readFailure() const { return readFailure_; }
    /// Moves to `frame` (0 to totalFrames()), so that the next read starts exactly there.
    /// False, with the position unknown, when the file cannot seek.
    virtual bool seek(int64_t frame) = 0;

    uint32_t channels() const { return channels_; }
    double sampleRate() const { return sampleRate_; }
    int64_t totalFrames() const { return totalFrames_; }
    /// The file's own encoding.
    const AudioStreamBasicDescription& fileFormat() const { return fileFormat_; }
    /// The file's tags under the reader's names ("title", "artist", "comments"...).
    const std::map<std::string, std::string>& metadata() const { return metadata_; }

  protected:
    uint32_t channels_ = 0;
    double sampleRate_ = 0.0;
    int64_t totalFrames_ = 0;
    AudioStreamBasicDescription fileFormat_;
    std::map<std::string, std::string> metadata_;
    std::string readFailure_;
};

/// Opens `path` by its content: AAC, MP4 and M4A through FFmpeg, every other type through
/// libsndfile. Null, with the reason, when the file cannot be read as audio.
std::unique_ptr<AudioFileDecoder> openAudioFileDecoder(const std::string& path,
                                                       std::string* reason);

std::unique_ptr<AudioFileDecoder> openSndFileDecoder(const std::string& path, std::string* reason);
/// `typeName` ("AAC", "MP4" or "M4A") names the file in reasons and picks FFmpeg's demuxer.
std::unique_ptr<AudioFileDecoder> openFFmpegAudioDecoder(const std::string& path,
                                                         const std::string& typeName,
                                                         std::string* reason);

}  // namespace quenbril
