#include "MonitorApp/ATAudio/ATAudioFile.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/ClientFormat.h"
#include "foundation/Log.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

enum ErrorCode {
    kMissing = 1,
    kCannotOpen = 3,
    kBadClientFormat = 4,
    kUnconvertibleRate = 5,
    kReadFailed = 6
};

// The statuses the result check prints for each refusal.
constexpr OSStatus kFileNotFound = -43;
constexpr OSStatus kInvalidFile = static_cast<OSStatus>(fourCharCode("dta?"));
constexpr OSStatus kFormatNotSupported = static_cast<OSStatus>(fourCharCode("fmt?"));

/// The rate converter's bound, either way: libsamplerate's, which src_is_valid_ratio() checks.
constexpr int kConverterMaxRatio = 256;

Error fileError(const std::string& url, ErrorCode code, const std::string& reason) {
    Error error = Error::make(ATAudioFile::kErrorDomain, code, url + ": " + reason);
    error.userInfo.set(Error::kFailureReasonKey, Value(reason));
    return error;
}

/// A file that cannot be opened is logged by the result check whether or not the caller asked
/// for the error: a player made from a URL asks for none.
void refuse(const std::string& url, ErrorCode code, const std::string& reason, Error* error) {
    const std::string operation = "Failed to open audio file " + url + ": " + reason;
    const OSStatus status = code == kMissing             ? kFileNotFound
                            : code == kUnconvertibleRate ? kFormatNotSupported
                                                         : kInvalidFile;
    U::checkResult(status, operation.c_str());
    if (error) *error = fileError(url, code, reason);
}

/// Why the rate converter cannot read a file of `fileRate` at `clientRate`, or "" when it can.
/// A client rate that is no rate at all is the client format check's to refuse.
std::string rateRefusal(double fileRate, double clientRate) {
    const double ratio = clientRate / fileRate;
    if (!std::isfinite(clientRate) || !(clientRate > 0.0) || ratio == 1.0 ||
        src_is_valid_ratio(ratio)) {
        return {};
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "its rate of %.10g Hz cannot be converted to %.10g Hz: the rate converter "
                  "takes rates at most %d times apart",
                  fileRate, clientRate, kConverterMaxRatio);
    return text;
}

}  // namespace

AudioStreamBasicDescription ATAudioFile::defaultClientFormat() {
    return U::stereoFloatNonInterleavedFormatWithSampleRate(kDefaultClientFormatSampleRate);
}

const std::vector<std::string>& ATAudioFile::supportedAudioFileTypes() {
    static const std::vector<std::string> types{"aac", "caf", "aif", "aiff", "aifc", "mp3",
                                                "mp4", "m4a", "snd", "au",   "sd2",  "wav"};
    return types;
}

ATAudioFile::ATAudioFile(std::string url, ATAudioFileDelegate* delegate)
    : url_(std::move(url)), delegate_(delegate) {}

ATAudioFile::~ATAudioFile() {
    // The waveform queue holds only a weak reference, so no work of it outlives the reader.
    releaseConverter();
}

std::shared_ptr<ATAudioFile> ATAudioFile::audioFileWithURL(
    const std::string& url, ATAudioFileDelegate* delegate,
    const AudioStreamBasicDescription& clientFormat, Error* error) {
    std::shared_ptr<ATAudioFile> file(new ATAudioFile(url, delegate));
    if (!file->open(error)) return nullptr;
    // A file the converter cannot bring to the client's rate would read as empty.
    if (const std::string reason =
            rateRefusal(file->fileFormat_.mSampleRate, clientFormat.mSampleRate);
        !reason.empty()) {
        refuse(url, kUnconvertibleRate, reason, error);
        return nullptr;
    }
    // applyClientFormat() logs its refusal with the file.
    if (!file->applyClientFormat(clientFormat)) {
        if (error)
            *error =
                fileError(url, kBadClientFormat, "the reader cannot convert to the client format");
        return nullptr;
    }
    return file;
}

bool ATAudioFile::open(Error* error) {
    std::error_code code;
    if (!std::filesystem::is_regular_file(url_, code)) {
        refuse(url_, kMissing, "no such file", error);
        return false;
    }
    std::string reason;
    decoder_ = openAudioFileDecoder(url_, &reason);
    if (!decoder_) {
        refuse(url_, kCannotOpen, reason, error);
        return false;
    }
    fileChannels_ = decoder_->channels();
    totalFrames_ = decoder_->totalFrames();
    fileFormat_ = decoder_->fileFormat();
    duration_ = static_cast<double>(totalFrames_) / decoder_->sampleRate();
    return true;
}

bool ATAudioFile::setClientFormat(const AudioStreamBasicDescription& clientFormat) {
    // A control call: it waits for a read or waveform in progress rather than pulling its
    // buffers from under it.
    std::lock_guard guard(lock_);
    return applyClientFormat(clientFormat);
}

bool ATAudioFile::applyClientFormat(const AudioStreamBasicDescription& clientFormat) {
    // A refused format leaves the reader reading as it did.
    const std::string refusal = isSupportedClientFormat(clientFormat)
                                    ? rateRefusal(fileFormat_.mSampleRate, clientFormat.mSampleRate)
                                    : U::stringForAudioStreamBasicDescription(clientFormat);
    if (!refusal.empty()) {
        const std::string operation =
            "Couldn't set client data format on file " + url_ + ": " + refusal;
        U::checkResult(kFormatNotSupported, operation.c_str());
        return false;
    }
    const double ratio = clientFormat.mSampleRate / fileFormat_.mSampleRate;
    SRC_STATE* converter = nullptr;
    SRC_STATE* waveformConverter = nullptr;
    if (ratio != 1.0) {
        const auto channels = static_cast<int>(clientFormat.mChannelsPerFrame);
        int result = 0;
        converter = src_callback_new(&ATAudioFile::converterInput, SRC_SINC_FASTEST, channels,
                                     &result, this);
        if (converter) {
            waveformConverter =
                src_callback_new(&ATAudioFile::converterInput, SRC_LINEAR, channels, &result, this);
        }
        if (!waveformConverter) {
            if (converter) src_delete(converter);
            char rates[96];
            std::snprintf(rates, sizeof rates, "Could not convert %.0f Hz to %.0f Hz",
                          fileFormat_.mSampleRate, clientFormat.mSampleRate);
            const std::string operation =
                std::string(rates) + " for file " + url_ + ": " + src_strerror(result);
            U::checkResult(kFormatNotSupported, operation.c_str());
            return false;
        }
    }
    const int64_t position = frameIndex();
    const double oldRate = clientFormat_.mSampleRate;
    releaseConverter();
    converter_ = converter;
    waveformConverter_ = waveformConverter;
    clientFormat_ = clientFormat;
    clientChannels_ = clientFormat.mChannelsPerFrame;
    ratio_ = ratio;
    fileChunk_.assign(static_cast<size_t>(kChunkFrames) * fileChannels_, 0.0f);
    mixedChunk_.assign(static_cast<size_t>(kChunkFrames) * clientChannels_, 0.0f);
    clientChunk_.assign(static_cast<size_t>(kChunkFrames) * clientChannels_, 0.0f);
    floatData_.assign(clientChannels_, std::vector<float>(kChunkFrames, 0.0f));
    floatPointers_.clear();
    for (auto& channel : floatData_) floatPointers_.push_back(channel.data());
    // The same moment of the file, counted in the new client frames.
    const double seconds = oldRate > 0.0 ? static_cast<double>(position) / oldRate : 0.0;
    seekLocked(static_cast<int64_t>(std::llround(seconds * clientFormat.mSampleRate)));
    return true;
}

void ATAudioFile::releaseConverter() {
    if (converter_) converter_ = src_delete(converter_);
    if (waveformConverter_) waveformConverter_ = src_delete(waveformConverter_);
}

int64_t ATAudioFile::totalClientFrames() const {
    if (clientFormat_.mSampleRate == fileFormat_.mSampleRate) return totalFrames_;
    return static_cast<int64_t>(duration_ * clientFormat_.mSampleRate);
}

uint32_t ATAudioFile::readMixed(float* out, uint32_t frames) {
    frames = std::min(frames, kChunkFrames);
    const uint32_t count = decoder_->read(fileChunk_.data(), frames);
    if (count < frames && !decoder_->readFailure().empty()) readFailure_ = decoder_->readFailure();
    U::mixChannels(fileChunk_.data(), fileChannels_, out, clientChannels_, count);
    return count;
}

long ATAudioFile::converterInput(void* context, float** data) {
    auto* self = static_cast<ATAudioFile*>(context);
    *data = self->mixedChunk_.data();
    // A damaged file may give frames again after it gave none; the converter must not be fed
    // after the end it was told of, nor after a failure.
    if (self->sourceEnded_ || !self->readFailure_.empty()) return 0;
    const uint32_t got = self->readMixed(self->mixedChunk_.data(), kChunkFrames);
    if (got > 0 || !self->readFailure_.empty()) return got;
    // The converter keeps its last frames back until more input comes: silence after the end
    // lets them out, and reads stop at the file's length.
    self->sourceEnded_ = true;
    std::fill_n(self->mixedChunk_.data(), size_t{kEndPadding} * self->clientChannels_, 0.0f);
    return kEndPadding;
}

uint32_t ATAudioFile::readClientFrames(float* out, uint32_t frames, SRC_STATE_tag* converter) {
    const int64_t left = std::max<int64_t>(totalClientFrames() - frameIndex(), 0);
    frames = static_cast<uint32_t>(std::min<int64_t>(frames, left));
    uint32_t done = 0;
    while (done < frames && readFailure_.empty()) {
        float* at = out + static_cast<size_t>(done) * clientChannels_;
        const uint32_t wanted = std::min(frames - done, kChunkFrames);
        const long got = converter ? src_callback_read(converter, ratio_, wanted, at)
                                   : static_cast<long>(readMixed(at, wanted));
        if (got <= 0) {
            if (converter && src_error(converter) != 0 && readFailure_.empty())
                readFailure_ =
                    std::string("the rate converter failed: ") + src_strerror(src_error(converter));
            break;
        }
        done += static_cast<uint32_t>(got);
    }
    frameIndex_.store(frameIndex() + done, std::memory_order_relaxed);
    return done;
}

void ATAudioFile::readFrames(uint32_t frames, AudioBufferList* bufferList, uint32_t* bufferSize,
                             bool* eof, Error* error) {
    std::unique_lock guard(lock_, std::try_to_lock);
    if (!guard.owns_lock() || !bufferList || bufferList->mNumberBuffers == 0) {
        if (bufferSize) *bufferSize = 0;
        if (eof) *eof = false;
        return;
    }
    const bool failedBefore = !readFailure_.empty();
    frames = std::min(frames, framesHeldInFormat(bufferList, clientFormat_));

    ATAudioFileDelegate* delegate = this->delegate();
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t wanted = std::min(frames - done, kChunkFrames);
        const uint32_t got = readClientFrames(clientChunk_.data(), wanted, converter_);
        if (got == 0) break;
        writeFloatFrames(clientChunk_.data(), got, clientFormat_, bufferList, done);
        if (delegate) {
            const float* chunk = clientChunk_.data();
            for (uint32_t c = 0; c < clientChannels_; ++c) {
                float* channel = floatPointers_[c];
                for (uint32_t i = 0; i < got; ++i) channel[i] = chunk[i * clientChannels_ + c];
            }
            delegate->audioFile(*this, floatPointers_.data(), got, clientChannels_);
        }
        done += got;
        if (got < wanted) break;
    }
    const bool failed = !readFailure_.empty();
    if (failed && !failedBefore) logReadFailure();
    if (failed && error) *error = fileError(url_, kReadFailed, readFailure_);
    if (bufferSize) *bufferSize = done;
    if (eof) *eof = done == 0 && !failed;
    tellPosition();
}

void ATAudioFile::logReadFailure() const {
    log(LogLevel::Error, "Failed to read audio file %s at frame %lld: %s", url_.c_str(),
        static_cast<long long>(frameIndex()), readFailure_.c_str());
}

void ATAudioFile::tellPosition() {
    if (ATAudioFileDelegate* delegate = this->delegate()) {
        delegate->audioFileUpdatedPosition(*this);
        delegate->audioFile(*this, frameIndex());
    }
}

void ATAudioFile::seekToFrame(int64_t frame) {
    {
        std::unique_lock guard(lock_, std::try_to_lock);
        if (!guard.owns_lock()) return;
        seekLocked(frame);
    }
    tellPosition();
}

void ATAudioFile::seekLocked(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, totalClientFrames());
    const auto fileFrame = static_cast<int64_t>(std::llround(static_cast<double>(frame) / ratio_));
    if (!decoder_->seek(std::min(fileFrame, totalFrames_)))
        QLOG("Failed to seek frame position within audio file %s", url_.c_str());
    if (converter_) src_reset(converter_);
    if (waveformConverter_) src_reset(waveformConverter_);
    sourceEnded_ = false;
    readFailure_.clear();
    frameIndex_.store(frame, std::memory_order_relaxed);
}

double ATAudioFile::currentTime() const { return timeOfFrame(frameIndex()); }

double ATAudioFile::timeOfFrame(int64_t frame) const {
    const int64_t total = totalClientFrames();
    if (total <= 0) return 0.0;
    return U::MAP(static_cast<float>(frame), 0.0f, static_cast<float>(total), 0.0f,
                  static_cast<float>(duration_));
}

void ATAudioFile::setCurrentTime(double seconds) {
    if (duration_ <= 0.0) return seekToFrame(0);
    seekToFrame(static_cast<int64_t>(U::MAP(static_cast<float>(seconds), 0.0f,
                                            static_cast<float>(duration_), 0.0f,
                                            static_cast<float>(totalClientFrames()))));
}

std::string ATAudioFile::formattedCurrentTime() const {
    return U::displayTimeStringFromSeconds(currentTime());
}

std::string ATAudioFile::formattedDuration() const {
    return U::displayTimeStringFromSeconds(duration_);
}

std::map<std::string, std::string> ATAudioFile::metadata() const {
    std::map<std::string, std::string> result = decoder_->metadata();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", duration_);
    result["approximate duration in seconds"] = seconds;
    return result;
}

std::shared_ptr<ATAudioFile> ATAudioFile::copy() const { return audioFileWithURL(url_); }

std::shared_ptr<ATAudioFloatData> ATAudioFile::getWaveformData(uint32_t points) {
    std::unique_lock guard(lock_, std::try_to_lock);
    if (!guard.owns_lock()) return nullptr;
    const int64_t total = totalClientFrames();
    const uint32_t channels = clientChannels_;
    if (points == 0 || channels == 0 || total <= 0) return nullptr;
    points = static_cast<uint32_t>(std::min<int64_t>(points, total));
    const int64_t remembered = frameIndex();
    seekLocked(0);

    // Read a chunk at a time: the frames of a point are as many as the file claims.
    const int64_t framesPerPoint = total / points;
    std::vector<std::vector<float>> values(channels, std::vector<float>(points, 0.0f));
    std::vector<double> sums(channels);
    for (uint32_t point = 0; point < points; ++point) {
        std::fill(sums.begin(), sums.end(), 0.0);
        int64_t read = 0;
        while (read < framesPerPoint) {
            const auto wanted =
                static_cast<uint32_t>(std::min<int64_t>(framesPerPoint - read, kChunkFrames));
            const uint32_t got = readClientFrames(clientChunk_.data(), wanted, waveformConverter_);
            for (uint32_t i = 0; i < got; ++i) {
                for (uint32_t c = 0; c < channels; ++c) {
                    const double sample = clientChunk_[static_cast<size_t>(i) * channels + c];
                    sums[c] += sample * sample;
                }
            }
            read += got;
            if (got < wanted) break;
        }
        for (uint32_t c = 0; c < channels; ++c)
            values[c][point] =
                read ? static_cast<float>(std::sqrt(sums[c] / static_cast<double>(read))) : 0.0f;
    }
    // A waveform whose file failed on the way would show silence where it could not read.
    const bool failed = !readFailure_.empty();
    if (failed) logReadFailure();
    seekLocked(remembered);
    guard.unlock();
    if (failed) return nullptr;

    std::vector<const float*> pointers;
    for (const auto& channel : values) pointers.push_back(channel.data());
    return ATAudioFloatData::dataWithNumberOfChannels(static_cast<int>(channels), pointers.data(),
                                                      points);
}

void ATAudioFile::getWaveformData(WaveformCompletion completion) {
    getWaveformData(kDefaultWaveformPoints, std::move(completion));
}

void ATAudioFile::getWaveformData(uint32_t points, WaveformCompletion completion) {
    if (!completion) return;
    if (!waveformQueue_) waveformQueue_ = dispatch::Queue::makeSerial("ATAudioFile.waveform");
    std::weak_ptr<ATAudioFile> weak = weak_from_this();
    waveformQueue_->async([weak, points, completion = std::move(completion)]() mutable {
        std::shared_ptr<ATAudioFloatData> data;
        if (auto self = weak.lock()) data = self->getWaveformData(points);
        dispatch::Queue::main()->async([data, completion = std::move(completion)] {
            if (data) {
                completion(data->buffers(), data->bufferSize());
            } else {
                completion(nullptr, 0);
            }
        });
    });
}

std::string ATAudioFile::description() const {
    std::string meta;
    for (const auto& [key, value] : metadata()) meta += "\n        " + key + " = " + value + ";";
    char head[64];
    std::snprintf(head, sizeof head, "<ATAudioFile: %p>", static_cast<const void*>(this));
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "    duration: %f,\n    totalFrames: %lld,\n", duration_,
                  static_cast<long long>(totalFrames_));
    return std::string(head) + " {\n    url: " + url_ + ",\n" + numbers + "    metadata: {" + meta +
           "\n    },\n    fileFormat: { " + U::stringForAudioStreamBasicDescription(fileFormat_) +
           " },\n    clientFormat: { " + U::stringForAudioStreamBasicDescription(clientFormat_) +
           " } \n}";
}

}  // namespace quenbril
