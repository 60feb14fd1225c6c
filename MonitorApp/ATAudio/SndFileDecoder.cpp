#include <sndfile.h>

#include <algorithm>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/AudioFileDecoder.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

using U = ATAudioUtilities;

/// The file's own encoding where it is linear PCM; compressed files (FLAC's integers aside)
/// are described as what they decode to, interleaved float32.
AudioStreamBasicDescription fileFormatOf(const SF_INFO& info) {
    const auto channels = static_cast<uint32_t>(info.channels);
    AudioStreamBasicDescription format;
    format.mSampleRate = info.samplerate;
    U::setCanonicalAudioStreamBasicDescription(&format, channels, true);
    uint32_t bits = 0;
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            bits = 8;
            break;
        case SF_FORMAT_PCM_16:
            bits = 16;
            break;
        case SF_FORMAT_PCM_24:
            bits = 24;
            break;
        case SF_FORMAT_PCM_32:
            bits = 32;
            break;
        case SF_FORMAT_DOUBLE:
            format.mBitsPerChannel = 64;
            format.mBytesPerFrame = format.mBytesPerPacket = 8 * channels;
            return format;
        default:
            return format;
    }
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8)
        format.mFormatFlags = kAudioFormatFlagIsPacked;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_AIFF || major == SF_FORMAT_CAF || major == SF_FORMAT_AU)
        format.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    format.mBitsPerChannel = bits;
    format.mBytesPerFrame = format.mBytesPerPacket = bits / 8 * channels;
    return format;
}

class SndFileDecoder final : public AudioFileDecoder {
  public:
    SndFileDecoder(SNDFILE* file, const SF_INFO& info) : file_(file) {
        channels_ = static_cast<uint32_t>(info.channels);
        sampleRate_ = info.samplerate;
        totalFrames_ = std::max<sf_count_t>(info.frames, 0);
        fileFormat_ = fileFormatOf(info);
        static const std::pair<int, const char*> keys[] = {
            {SF_STR_TITLE, "title"}, {SF_STR_ARTIST, "artist"},
            {SF_STR_ALBUM, "album"}, {SF_STR_COMMENT, "comments"},
            {SF_STR_DATE, "year"},   {SF_STR_COPYRIGHT, "copyright"},
            {SF_STR_GENRE, "genre"}, {SF_STR_TRACKNUMBER, "track number"}};
        for (const auto& [type, key] : keys) {
            if (const char* text = sf_get_string(file_, type); text && *text) metadata_[key] = text;
        }
    }
    ~SndFileDecoder() override {
        if (sf_close(file_) != 0) QLOG("Failed to dispose of ext audio file");
    }
    SndFileDecoder(const SndFileDecoder&) = delete;
    SndFileDecoder& operator=(const SndFileDecoder&) = delete;

    uint32_t read(float* interleaved, uint32_t frames) override {
        return static_cast<uint32_t>(
            std::max<sf_count_t>(sf_readf_float(file_, interleaved, frames), 0));
    }

    bool seek(int64_t frame) override {
        return sf_seek(file_, std::clamp<sf_count_t>(frame, 0, totalFrames_), SEEK_SET) >= 0;
    }

  private:
    SNDFILE* file_;
};

}  // namespace

std::unique_ptr<AudioFileDecoder> openSndFileDecoder(const std::string& path, std::string* reason) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        *reason = sf_strerror(nullptr);
        return nullptr;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        *reason = "the file has no channels or no rate";
        return nullptr;
    }
    return std::make_unique<SndFileDecoder>(file, info);
}

}  // namespace quenbril
