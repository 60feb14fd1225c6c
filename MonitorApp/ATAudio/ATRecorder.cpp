#include "MonitorApp/ATAudio/ATRecorder.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "foundation/Log.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

Error recorderError(const std::string& url, int64_t code, const std::string& reason) {
    Error error = Error::make(ATRecorder::kErrorDomain, code, url + ": " + reason);
    error.userInfo.set(Error::kFailureReasonKey, Value(reason));
    return error;
}

/// The libsndfile format of a file type and format, or 0 for one that cannot be written.
int soundFileFormat(uint32_t fileTypeID, const AudioStreamBasicDescription& format,
                    std::string* reason) {
    int major = 0;
    if (fileTypeID == kAudioFileAIFFType) major = SF_FORMAT_AIFF;
    if (fileTypeID == kAudioFileWAVEType) major = SF_FORMAT_WAV;
    if (fileTypeID == kAudioFileCAFType) major = SF_FORMAT_CAF;
    if (fileTypeID == kAudioFileM4AType || format.mFormatID == kAudioFormatMPEG4AAC) {
        *reason = "M4A (AAC) files cannot be recorded";
        return 0;
    }
    if (major == 0) {
        *reason = "file type " + U::stringFromUInt32Code(fileTypeID) + " cannot be recorded";
        return 0;
    }
    if (format.mFormatID != kAudioFormatLinearPCM || format.mChannelsPerFrame == 0 ||
        !(format.mSampleRate > 0.0)) {
        *reason = "the file format is not linear PCM with channels and a rate";
        return 0;
    }
    if (U::isFloatFormat(format)) {
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

bool isUsableClientFormat(const AudioStreamBasicDescription& client,
                          const AudioStreamBasicDescription& file) {
    return client.mFormatID == kAudioFormatLinearPCM && U::isFloatFormat(client) &&
           client.mBitsPerChannel == 32 && client.mChannelsPerFrame > 0 &&
           client.mChannelsPerFrame <= 64 && client.mSampleRate == file.mSampleRate;
}

}  // namespace

AudioStreamBasicDescription ATRecorder::formatForFileType(
    int64_t fileType, const AudioStreamBasicDescription& source) {
    switch (fileType) {
        case kAIFF:
            return U::AIFFFormatWithNumberOfChannels(source.mChannelsPerFrame, source.mSampleRate);
        case kM4A:
            return U::M4AFormatWithNumberOfChannels(source.mChannelsPerFrame, source.mSampleRate);
        case kWAV:
            return U::stereoFloatInterleavedFormatWithSampleRate(source.mSampleRate);
        default:
            return U::stereoCanonicalNonInterleavedFormatWithSampleRate(source.mSampleRate);
    }
}

uint32_t ATRecorder::fileTypeIdForFileType(int64_t fileType,
                                           const AudioStreamBasicDescription& /*source*/) {
    switch (fileType) {
        case kAIFF:
            return kAudioFileAIFFType;
        case kM4A:
            return kAudioFileM4AType;
        default:
            return kAudioFileWAVEType;
    }
}

std::unique_ptr<ATRecorder> ATRecorder::recorderWithURL(
    const std::string& url, const AudioStreamBasicDescription& clientFormat, int64_t fileType,
    ATRecorderDelegate* delegate, Error* error) {
    return recorderWithURL(url, clientFormat, formatForFileType(fileType, clientFormat),
                           fileTypeIdForFileType(fileType, clientFormat), delegate, error);
}

std::unique_ptr<ATRecorder> ATRecorder::recorderWithDestinationURL(
    const std::string& url, const AudioStreamBasicDescription& sourceFormat,
    int64_t destinationFileType) {
    return recorderWithURL(url, sourceFormat, destinationFileType);
}

std::unique_ptr<ATRecorder> ATRecorder::recorderWithURL(
    const std::string& url, const AudioStreamBasicDescription& clientFormat,
    const AudioStreamBasicDescription& fileFormat, uint32_t audioFileTypeID,
    ATRecorderDelegate* delegate, Error* error) {
    std::string reason;
    const int format = soundFileFormat(audioFileTypeID, fileFormat, &reason);
    if (format == 0) {
        QLOG("Failed to create audio file %s: %s", url.c_str(), reason.c_str());
        if (error) *error = recorderError(url, 1, reason);
        return nullptr;
    }
    if (!isUsableClientFormat(clientFormat, fileFormat)) {
        reason = "the client format is not float32 at the file's rate";
        QLOG("Failed to set client format on recorded audio file %s", url.c_str());
        if (error) *error = recorderError(url, 2, reason);
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(fileFormat.mSampleRate);
    info.channels = static_cast<int>(fileFormat.mChannelsPerFrame);
    info.format = format;
    // An existing file is replaced: libsndfile truncates it on open.
    SNDFILE* file = sf_open(url.c_str(), SFM_WRITE, &info);
    if (!file) {
        reason = sf_strerror(nullptr);
        QLOG("Failed to create audio file %s: %s", url.c_str(), reason.c_str());
        if (error) *error = recorderError(url, 3, reason);
        return nullptr;
    }
    std::unique_ptr<ATRecorder> recorder(new ATRecorder);
    recorder->delegate_ = delegate;
    recorder->fileTypeID_ = audioFileTypeID;
    recorder->url_ = url;
    recorder->fileFormat_ = fileFormat;
    recorder->file_ = file;
    recorder->setClientFormat(clientFormat);
    return recorder;
}

ATRecorder::~ATRecorder() { closeAudioFile(); }

bool ATRecorder::setClientFormat(const AudioStreamBasicDescription& clientFormat) {
    if (!isUsableClientFormat(clientFormat, fileFormat_)) {
        QLOG("Failed to set client format on recorded audio file: %s",
             U::stringForAudioStreamBasicDescription(clientFormat).c_str());
        return false;
    }
    clientFormat_ = clientFormat;
    clientChunk_.assign(static_cast<size_t>(kChunkFrames) * clientFormat.mChannelsPerFrame, 0.0f);
    fileChunk_.assign(static_cast<size_t>(kChunkFrames) * fileFormat_.mChannelsPerFrame, 0.0f);
    return true;
}

bool ATRecorder::appendDataFromBufferList(const AudioBufferList* bufferList, uint32_t frames) {
    if (closed_ || !file_) {
        QLOG("Recorder: audio appended to %s after it was closed is ignored", url_.c_str());
        return false;
    }
    const uint32_t channels = clientFormat_.mChannelsPerFrame;
    const bool interleaved = U::isInterleaved(clientFormat_);
    if (!bufferList || bufferList->mNumberBuffers < (interleaved ? 1 : channels)) {
        QLOG("Failed to write audio data to recorded audio file: the buffer list does not match");
        return false;
    }
    // Never read past what the list holds.
    uint32_t capacity = bufferList->mBuffers[0].mDataByteSize / (interleaved ? 4 * channels : 4);
    if (!interleaved) {
        for (uint32_t c = 0; c < channels; ++c)
            capacity = std::min(capacity, bufferList->mBuffers[c].mDataByteSize / 4);
    }
    frames = std::min(frames, capacity);
    const uint32_t fileChannels = fileFormat_.mChannelsPerFrame;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = std::min(kChunkFrames, frames - done);
        const float* chunk;
        if (interleaved) {
            chunk = static_cast<const float*>(bufferList->mBuffers[0].mData) +
                    static_cast<size_t>(done) * channels;
        } else {
            for (uint32_t c = 0; c < channels; ++c) {
                const float* channel = static_cast<const float*>(bufferList->mBuffers[c].mData);
                for (uint32_t i = 0; i < count; ++i)
                    clientChunk_[static_cast<size_t>(i) * channels + c] = channel[done + i];
            }
            chunk = clientChunk_.data();
        }
        U::mixChannels(chunk, channels, fileChunk_.data(), fileChannels, count);
        const sf_count_t written = sf_writef_float(file_, fileChunk_.data(), count);
        frames_ += std::max<sf_count_t>(written, 0);
        if (written != static_cast<sf_count_t>(count)) {
            QLOG("Failed to write audio data to recorded audio file %s: %s", url_.c_str(),
                 sf_strerror(file_));
            return false;
        }
        done += count;
    }
    if (delegate_) delegate_->recorderUpdatedCurrentTime(*this);
    return true;
}

void ATRecorder::closeAudioFile() {
    if (closed_ || !file_) return;
    if (sf_close(file_) != 0) QLOG("Failed to close audio file %s", url_.c_str());
    file_ = nullptr;
    closed_ = true;
    if (delegate_) delegate_->recorderDidClose(*this);
}

double ATRecorder::duration() const {
    if (!(fileFormat_.mSampleRate > 0.0)) return 0.0;
    return static_cast<double>(frames_) / fileFormat_.mSampleRate;
}

double ATRecorder::currentTime() const {
    const double total = duration();
    if (total == 0.0) return 0.0;
    return U::MAP(static_cast<float>(frameIndex()), 0.0f, static_cast<float>(totalFrames()), 0.0f,
                  static_cast<float>(total));
}

std::string ATRecorder::formattedCurrentTime() const {
    return U::displayTimeStringFromSeconds(currentTime());
}

std::string ATRecorder::formattedDuration() const {
    return U::displayTimeStringFromSeconds(duration());
}

}  // namespace quenbril
