#include <sndfile.h>

#include <utility>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/ATRecorder.h"
#include "MonitorApp/ATAudio/AudioFileEncoder.h"

namespace quenbril {

namespace {

constexpr uint32_t kMaxChannels = 1024;
constexpr double kMaxSampleRate = 1 << 20;

/// The libsndfile format of a file type and format, or 0 for one that cannot be written.
int soundFileFormat(uint32_t fileTypeID, const AudioStreamBasicDescription& format,
                    std::string* reason) {
    int major = 0;
    if (fileTypeID == kAudioFileAIFFType) major = SF_FORMAT_AIFF;
    if (fileTypeID == kAudioFileWAVEType) major = SF_FORMAT_WAV;
    if (fileTypeID == kAudioFileCAFType) major = SF_FORMAT_CAF;
    if (major == 0) {
        *reason = "file type " + ATAudioUtilities::stringFromUInt32Code(fileTypeID) +
                  " cannot be recorded";
        return 0;
    }
    if (format.mFormatID != kAudioFormatLinearPCM || format.mChannelsPerFrame == 0 ||
        format.mChannelsPerFrame > kMaxChannels || !(format.mSampleRate >= 1.0) ||
        format.mSampleRate > kMaxSampleRate) {
        *reason = "the file format is not linear PCM with channels and a rate";
        return 0;
    }
    if (ATAudioUtilities::isFloatFormat(format)) {
        if (format.mBitsPerChannel == 64) return major | SF_FORMAT_DOUBLE;
        return major | SF_FORMAT_FLOAT;
    }
    switch (format.mBitsPerChannel) {
        case 8:
            return major | (major == SF_FORMAT_WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8);
        case 16:
            return major | SF_FORMAT_PCM_16;
        case 24:
            return major | SF_FORMAT_PCM_24;
        case 32:
            return major | SF_FORMAT_PCM_32;
        default:
            break;
    }
    *reason = "samples of " + std::to_string(format.mBitsPerChannel) + " bits cannot be recorded";
    return 0;
}

class SndFileEncoder final : public AudioFileEncoder {
  public:
    explicit SndFileEncoder(SNDFILE* file) : file_(file) {}
    ~SndFileEncoder() override {
        if (file_) sf_close(file_);
    }
    SndFileEncoder(const SndFileEncoder&) = delete;
    SndFileEncoder& operator=(const SndFileEncoder&) = delete;

    bool write(const float* interleaved, uint32_t frames, std::string* reason) override {
        if (!file_) return false;
        if (sf_writef_float(file_, interleaved, frames) == static_cast<sf_count_t>(frames))
            return true;
        *reason = sf_strerror(file_);
        return false;
    }

    bool finish(std::string* reason) override {
        SNDFILE* file = std::exchange(file_, nullptr);
        if (!file || sf_close(file) == 0) return true;
        *reason = "the file could not be completed";
        return false;
    }

  private:
    SNDFILE* file_;
};

}  // namespace

std::unique_ptr<AudioFileEncoder> openSndFileEncoder(const std::string& path, uint32_t fileTypeID,
                                                     const AudioStreamBasicDescription& format,
                                                     std::string* reason) {
    const int soundFormat = soundFileFormat(fileTypeID, format, reason);
    if (soundFormat == 0) return nullptr;
    SF_INFO info{};
    info.samplerate = static_cast<int>(format.mSampleRate);
    info.channels = static_cast<int>(format.mChannelsPerFrame);
    info.format = soundFormat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        *reason = sf_strerror(nullptr);
        return nullptr;
    }
    return std::make_unique<SndFileEncoder>(file);
}

}  // namespace quenbril
