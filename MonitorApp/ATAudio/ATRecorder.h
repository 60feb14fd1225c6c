#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFloatConverter.h"
#include "MonitorApp/ATAudio/ATRecorderDelegate.h"
#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"
#include "foundation/Error.h"

struct SRC_STATE_tag;

namespace quenbril {

class AudioFileEncoder;

inline constexpr uint32_t kAudioFileAIFFType = fourCharCode("AIFF");
inline constexpr uint32_t kAudioFileM4AType = fourCharCode("m4af");
inline constexpr uint32_t kAudioFileWAVEType = fourCharCode("WAVE");
inline constexpr uint32_t kAudioFileCAFType = fourCharCode("caff");

/// Writes audio handed over in a client format (any isSupportedClientFormat() takes: float32
/// or signed 16- or 32-bit integers, interleaved or not, any channel count and rate) to a new
/// file, converting it to the file's format. The file's format is given whole or derived from
/// a file type: 0 AIFF (32-bit integers), 1 M4A (AAC), 2 WAV (float, stereo), anything else WAV
/// (float, stereo). The file is written beside its URL under a temporary name and renamed over
/// it when closed, so a recording cut short never stands where an older file was.
///
/// Used from one thread at a time; writes are synchronous file I/O on the caller's thread, so a
/// recording fed from an audio callback goes through a ring to a thread of its own.
class ATRecorder {
  public:
    enum FileType : int64_t { kAIFF = 0, kM4A = 1, kWAV = 2 };
    static constexpr const char* kErrorDomain = "ATRecorderErrorDomain";

    static AudioStreamBasicDescription formatForFileType(int64_t fileType,
                                                         const AudioStreamBasicDescription& source);
    static uint32_t fileTypeIdForFileType(int64_t fileType,
                                          const AudioStreamBasicDescription& source);

    /// A recorder, or null (with `error` naming the file and the reason) when the file cannot
    /// be created: a type or format that cannot be written (AAC goes only in an M4A, M4A holds
    /// only AAC), a client format the recorder cannot convert, or a path that cannot be written.
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
    /// Completes the file and puts it in place of the URL, once; later calls do nothing.
    void closeAudioFile();

    const AudioStreamBasicDescription& clientFormat() const { return clientFormat_; }
    /// Refused (false, with a log line) for a format isSupportedClientFormat() does not take.
    bool setClientFormat(const AudioStreamBasicDescription& clientFormat);
    const AudioStreamBasicDescription& fileFormat() const { return fileFormat_; }
    uint32_t audioFileTypeID() const { return fileTypeID_; }
    const std::string& url() const { return url_; }
    /// Frames in the file's format written so far.
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

    /// Writes interleaved frames of the file's channels at the client's rate, through the rate
    /// converter when the rates differ; at the end of input the converter gives what it holds.
    bool writeFileFrames(const float* frames, uint32_t count, bool endOfInput);
    void releaseRateConverter();

    ATRecorderDelegate* delegate_ = nullptr;
    uint32_t fileTypeID_ = 0;
    std::unique_ptr<AudioFileEncoder> encoder_;
    AudioStreamBasicDescription clientFormat_;
    bool closed_ = false;
    std::string url_;
    /// Where the file is written until it is closed.
    std::string temporaryPath_;
    AudioStreamBasicDescription fileFormat_;
    int64_t frames_ = 0;

    // The conversion from the client format, sized with it.
    std::unique_ptr<ATAudioFloatConverter> floatConverter_;
    SRC_STATE_tag* rateConverter_ = nullptr;
    std::vector<std::vector<float>> clientChannels_;
    std::vector<float*> clientPointers_;
    std::vector<AudioBuffer> chunkBuffers_;
    std::vector<float> clientChunk_;
    std::vector<float> fileChunk_;
    std::vector<float> convertedChunk_;
};

}  // namespace quenbril
