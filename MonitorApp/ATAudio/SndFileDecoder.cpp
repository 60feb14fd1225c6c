#include <sndfile.h>

#include <algorithm>
#include <string>

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

/// Whether every frame takes the same bytes, so that libsndfile's length is the data's own: a
/// read that stops short of it found less data than the file had when it was opened. Other
/// encodings may state a length their data does not quite reach.
bool hasExactLength(const SF_INFO& info) {
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
    }
}

class SndFileDecoder final : public AudioFileDecoder {
  public:
    SndFileDecoder(SNDFILE* file, const SF_INFO& info)
        : file_(file), exactLength_(hasExactLength(info)) {
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
        const auto got = static_cast<uint32_t>(
            std::max<sf_count_t>(sf_readf_float(file_, interleaved, frames), 0));
        readFailure_.clear();
        // libsndfile tells a failed read only by its error; a file cut short since it was
        // opened reads as a plain end, before the length it had.
        if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
            readFailure_ = sf_strerror(file_);
        } else if (got < frames && exactLength_ && position_ + got < totalFrames_) {
            readFailure_ = "the file ends at frame " + std::to_string(position_ + got) +
                           " of the " + std::to_string(totalFrames_) + " it had when opened";
        }
        position_ += got;
        return got;
    }

    bool seek(int64_t frame) override {
        frame = std::clamp<sf_count_t>(frame, 0, totalFrames_);
        const bool sought = sf_seek(file_, frame, SEEK_SET) >= 0;
        if (sought) position_ = frame;
        return sought;
    }

  private:
    SNDFILE* file_;
    const bool exactLength_;
    /// The frame the next read starts at.
    int64_t position_ = 0;
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
