#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATRecorderDelegate.h"
#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"
#include "foundation/Error.h"

struct sf_private_tag;

namespace quenbril {

inline constexpr uint32_t kAudioFileAIFFType = fourCharCode("AIFF");
inline constexpr uint32_t kAudioFileM4AType = fourCharCode("m4af");
inline constexpr uint32_t kAudioFileWAVEType = fourCharCode("WAVE");
inline constexpr uint32_t kAudioFileCAFType = fourCharCode("caff");

/// Writes float32 audio handed over in a client format to a new file, replacing one that is
/// there. The file's format is given whole or derived from a file type: 0 AIFF (32-bit
/// integers), 1 M4A, 2 WAV (float, stereo), anything else WAV (float, stereo). Nothing here
/// encodes AAC, so M4A is refused.
///
/// Used from one thread at a time; writes are synchronous on the caller's thread.
class ATRecorder {
  public:
    enum FileType : int64_t { kAIFF = 0, kM4A = 1, kWAV = 2 };
    static constexpr const char* kErrorDomain = "ATRecorderErrorDomain";

    static AudioStreamBasicDescription formatForFileType(int64_t fileType,
                                                         const AudioStreamBasicDescription& source);
    static uint32_t fileTypeIdForFileType(int64_t fileType,
                                          const AudioStreamBasicDescription& source);

    /// A recorder, or null (with `error` naming the file and the reason) when the file cannot
    /// be created: a type or format that cannot be written, a client format that is not float32
    /// at the file's rate, or a path that cannot be written.
    static std::unique_ptr<ATRecorder> recorderWithURL(
        const std::string& url, const AudioStreamBasicDescription& clientFormat,
        const AudioStreamBasicDescription& fileFormat, uint32_t audioFileTypeID,
        ATRecorderDelegate* delegate = nullptr, Error* error = nullptr);
    static std::unique_ptr<ATRecorder> recorderWithURL(
        const std::string& url, const AudioStreamBasicDescription& clientFormat, int64_t fileType,
        ATRecorderDelegate* delegate = nullptr, Error* error = nullptr);
    static std::unique_ptr<ATRecorder> recorderWithDestinationURL(
        const std::string& url, const AudioStreamBasicDescription& sourceFormat,
        int64_t destinationFileType);
    /// Closes the file when it is still open.
    ~ATRecorder();
    ATRecorder(const ATRecorder&) = delete;
    ATRecorder& operator=(const ATRecorder&) = delete;

    /// Appends `frames` frames. False, with a log line, after close or when the write fails.
    bool appendDataFromBufferList(const AudioBufferList* bufferList, uint32_t frames);
    /// Closes the file once; later calls do nothing.
    void closeAudioFile();

    const AudioStreamBasicDescription& clientFormat() const { return clientFormat_; }
    /// Refused (false, with a log line) unless float32 at the file's rate.
    bool setClientFormat(const AudioStreamBasicDescription& clientFormat);
    const AudioStreamBasicDescription& fileFormat() const { return fileFormat_; }
    uint32_t audioFileTypeID() const { return fileTypeID_; }
    const std::string& url() const { return url_; }
    int64_t frameIndex() const { return frames_; }
    int64_t totalFrames() const { return frames_; }
    /// Seconds written; 0 for a file format without a rate.
    double duration() const;
    double currentTime() const;
    std::string formattedCurrentTime() const;
    std::string formattedDuration() const;
    bool isClosed() const { return closed_; }

    ATRecorderDelegate* delegate() const { return delegate_; }
    void setDelegate(ATRecorderDelegate* delegate) { delegate_ = delegate; }

  private:
    static constexpr uint32_t kChunkFrames = 1024;
    ATRecorder() = default;

    ATRecorderDelegate* delegate_ = nullptr;
    uint32_t fileTypeID_ = 0;
    sf_private_tag* file_ = nullptr;
    AudioStreamBasicDescription clientFormat_;
    bool closed_ = false;
    std::string url_;
    AudioStreamBasicDescription fileFormat_;
    int64_t frames_ = 0;
    std::vector<float> clientChunk_;
    std::vector<float> fileChunk_;
};

}  // namespace quenbril
