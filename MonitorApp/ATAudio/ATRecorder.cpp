#include "MonitorApp/ATAudio/ATRecorder.h"

#include <fcntl.h>
#include <samplerate.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/AudioFileEncoder.h"
#include "MonitorApp/ATAudio/ClientFormat.h"
#include "foundation/FileReplacement.h"
#include "foundation/Log.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

enum ErrorCode { kCannotWrite = 1, kBadClientFormat = 2, kCannotCreate = 3 };

Error recorderError(const std::string& url, int64_t code, const std::string& reason) {
    Error error = Error::make(ATRecorder::kErrorDomain, code, url + ": " + reason);
    error.userInfo.set(Error::kFailureReasonKey, Value(reason));
    return error;
}

/// The encoder for a file type and format, or null with the reason.
std::unique_ptr<AudioFileEncoder> openEncoder(const std::string& path, uint32_t fileTypeID,
                                              const AudioStreamBasicDescription& format,
                                              std::string* reason) {
    const bool m4a = fileTypeID == kAudioFileM4AType;
    if (m4a != (format.mFormatID == kAudioFormatMPEG4AAC)) {
        *reason = m4a ? "an M4A file holds only AAC" : "AAC is recorded only in an M4A file";
        return nullptr;
    }
    if (m4a) return openAACFileEncoder(path, format.mChannelsPerFrame, format.mSampleRate, reason);
    return openSndFileEncoder(path, fileTypeID, format, reason);
}

bool makeDurable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
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
    auto fail = [&](ErrorCode code, const std::string& reason) {
        QLOG("Failed to create audio file %s: %s", url.c_str(), reason.c_str());
        if (error) *error = recorderError(url, code, reason);
        return nullptr;
    };
    std::unique_ptr<ATRecorder> recorder(new ATRecorder);
    recorder->delegate_ = delegate;
    recorder->fileTypeID_ = audioFileTypeID;
    recorder->url_ = url;
    recorder->fileFormat_ = fileFormat;
    if (!recorder->setClientFormat(clientFormat))
        return fail(kBadClientFormat, "the recorder cannot convert from the client format");
    // What a killed recording left beside the file goes first.
    removeLeftoverTemporaries(url);
    const std::optional<std::string> temporary = createTemporaryBeside(url);
    if (!temporary) return fail(kCannotCreate, std::strerror(errno));
    std::string reason;
    recorder->encoder_ = openEncoder(*temporary, audioFileTypeID, fileFormat, &reason);
    if (!recorder->encoder_) {
        ::unlink(temporary->c_str());
        return fail(kCannotWrite, reason);
    }
    recorder->temporaryPath_ = *temporary;
    return recorder;
}

ATRecorder::~ATRecorder() {
    closeAudioFile();
    releaseRateConverter();
}

void ATRecorder::releaseRateConverter() {
    if (rateConverter_) rateConverter_ = src_delete(rateConverter_);
}

bool ATRecorder::setClientFormat(const AudioStreamBasicDescription& clientFormat) {
    if (!isSupportedClientFormat(clientFormat)) {
        QLOG("Failed to set client format on recorded audio file: %s",
             U::stringForAudioStreamBasicDescription(clientFormat).c_str());
        return false;
    }
    auto floatConverter = ATAudioFloatConverter::converterWithInputFormat(clientFormat);
    if (!floatConverter) return false;
    // What the rate converter holds belongs to the previous format.
    if (rateConverter_ && encoder_) writeFileFrames(fileChunk_.data(), 0, true);
    releaseRateConverter();
    const uint32_t fileChannels = fileFormat_.mChannelsPerFrame;
    if (clientFormat.mSampleRate != fileFormat_.mSampleRate) {
        if (!src_is_valid_ratio(fileFormat_.mSampleRate / clientFormat.mSampleRate)) {
            QLOG("Could not convert %.0f Hz to %.0f Hz", clientFormat.mSampleRate,
                 fileFormat_.mSampleRate);
            return false;
        }
        int result = 0;
        rateConverter_ = src_new(SRC_SINC_FASTEST, static_cast<int>(fileChannels), &result);
        if (!rateConverter_) {
            QLOG("Could not convert %.0f Hz to %.0f Hz: %s", clientFormat.mSampleRate,
                 fileFormat_.mSampleRate, src_strerror(result));
            return false;
        }
    }
    floatConverter_ = std::move(floatConverter);
    clientFormat_ = clientFormat;
    const uint32_t channels = clientFormat.mChannelsPerFrame;
    clientChannels_.assign(channels, std::vector<float>(kChunkFrames));
    clientPointers_.clear();
    for (auto& channel : clientChannels_) clientPointers_.push_back(channel.data());
    clientChunk_.assign(static_cast<size_t>(kChunkFrames) * channels, 0.0f);
    fileChunk_.assign(static_cast<size_t>(kChunkFrames) * fileChannels, 0.0f);
    return true;
}

bool ATRecorder::appendDataFromBufferList(const AudioBufferList* bufferList, uint32_t frames) {
    if (closed_ || !encoder_) {
        QLOG("Recorder: audio appended to %s after it was closed is ignored", url_.c_str());
        return false;
    }
    // Never read past what the list holds.
    const uint32_t held = framesHeldInFormat(bufferList, clientFormat_);
    if (held == 0 && frames > 0) {
        QLOG("Failed to write audio data to recorded audio file: the buffer list does not match");
        return false;
    }
    frames = std::min(frames, held);
    const uint32_t channels = clientFormat_.mChannelsPerFrame;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = std::min(kChunkFrames, frames - done);
        // The converter reads a list from its start: it is handed the chunk's stretch.
        chunkBuffers_.assign(bufferList->mBuffers,
                             bufferList->mBuffers + bufferList->mNumberBuffers);
        for (AudioBuffer& buffer : chunkBuffers_) {
            if (!buffer.mData) continue;
            const uint32_t skip =
                std::min(done * clientFormat_.mBytesPerFrame, buffer.mDataByteSize);
            buffer.mData = static_cast<uint8_t*>(buffer.mData) + skip;
            buffer.mDataByteSize -= skip;
        }
        const AudioBufferList chunk{bufferList->mNumberBuffers, chunkBuffers_.data()};
        floatConverter_->convertDataFromAudioBufferList(&chunk, count, clientPointers_.data());
        for (uint32_t c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < count; ++i)
                clientChunk_[static_cast<size_t>(i) * channels + c] = clientChannels_[c][i];
        }
        U::mixChannels(clientChunk_.data(), channels, fileChunk_.data(),
                       fileFormat_.mChannelsPerFrame, count);
        if (!writeFileFrames(fileChunk_.data(), count, false)) return false;
        done += count;
    }
    if (delegate_) delegate_->recorderUpdatedCurrentTime(*this);
    return true;
}

bool ATRecorder::writeFileFrames(const float* frames, uint32_t count, bool endOfInput) {
    std::string reason;
    if (!rateConverter_) {
        if (count > 0 && !encoder_->write(frames, count, &reason)) {
            QLOG("Failed to write audio data to recorded audio file %s: %s", url_.c_str(),
                 reason.c_str());
            return false;
        }
        frames_ += count;
        return true;
    }
    const double ratio = fileFormat_.mSampleRate / clientFormat_.mSampleRate;
    const uint32_t channels = fileFormat_.mChannelsPerFrame;
    const auto capacity = static_cast<long>(kChunkFrames);
    convertedChunk_.resize(static_cast<size_t>(capacity) * channels);
    SRC_DATA data{};
    data.data_in = frames;
    data.input_frames = count;
    data.src_ratio = ratio;
    data.end_of_input = endOfInput ? 1 : 0;
    for (;;) {
        data.data_out = convertedChunk_.data();
        data.output_frames = capacity;
        if (const int result = src_process(rateConverter_, &data); result != 0) {
            QLOG("Failed to write audio data to recorded audio file %s: %s", url_.c_str(),
                 src_strerror(result));
            return false;
        }
        const auto made = static_cast<uint32_t>(data.output_frames_gen);
        if (made > 0 && !encoder_->write(convertedChunk_.data(), made, &reason)) {
            QLOG("Failed to write audio data to recorded audio file %s: %s", url_.c_str(),
                 reason.c_str());
            return false;
        }
        frames_ += made;
        data.data_in += data.input_frames_used * channels;
        data.input_frames -= data.input_frames_used;
        // Done when the input is used up and, at the end, nothing more comes out.
        if (data.input_frames == 0 && (!endOfInput || made == 0)) return true;
    }
}

void ATRecorder::closeAudioFile() {
    if (closed_ || !encoder_) return;
    if (rateConverter_) writeFileFrames(fileChunk_.data(), 0, true);
    std::string reason;
    bool done = encoder_->finish(&reason);
    encoder_.reset();
    if (!done) {
        QLOG("Failed to close audio file %s: %s", url_.c_str(), reason.c_str());
    } else if (!makeDurable(temporaryPath_) ||
               ::rename(temporaryPath_.c_str(), url_.c_str()) != 0) {
        QLOG("Failed to close audio file %s: %s", url_.c_str(), std::strerror(errno));
        done = false;
    }
    // An incomplete file never replaces the one that was there.
    if (!done) ::unlink(temporaryPath_.c_str());
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
