#include "MonitorApp/ATAudio/ATOutput.h"

#include <samplerate.h>

#include <algorithm>

#include "MonitorApp/ATAudio/ATAudioFloatConverter.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

// Frames the converter asks its input for at a time.
constexpr int kConverterChunk = 128;

}  // namespace

ATOutput::ATOutput(AudioBackend& backend)
    : choice_("Audio output", "playing on", ATDeviceChoice::Direction::Output, backend),
      watch_("Audio output", backend,
             {[this] { return stream_.get(); }, [this] { closeStream(); },
              [this] { return reopen(); }, [this] { report(); }, [this] { return wantsPlaying_; },
              [this] { return choice_.onStandIn(); }, [this] { return choice_.ownListed(); }}) {
    device_ = ATAudioDevice::currentOutputDevice(backend);
    if (device_) choice_.makeOwn(*device_);
}

ATOutput::ATOutput(ATOutputDataSource* dataSource, double sampleRate, AudioBackend& backend)
    : ATOutput(backend) {
    setInputFormat({sampleRate, inputFormat_.channels});
    setDataSource(dataSource);
}

ATOutput::ATOutput(ATOutputDataSource* dataSource, ATUnitFormat inputFormat, AudioBackend& backend)
    : ATOutput(backend) {
    setInputFormat(inputFormat);
    setDataSource(dataSource);
}

ATOutput::~ATOutput() {
    watch_.stop();
    closeStream();
}

ATOutput& ATOutput::sharedOutput() {
    static auto* output = new ATOutput();
    return *output;
}

// ---- Playing ----

bool ATOutput::openStream(bool quiet) {
    if (!device_) {
        if (!quiet) QLOG("No audio output device");
        return false;
    }
    const int64_t count = device_->outputChannelCount();
    if (count <= 0) {
        if (!quiet) QLOG("Device %s has no outputs", device_->name().c_str());
        return false;
    }
    return openOn(*device_, choice_.fitted(count, device_->name()), quiet);
}

bool ATOutput::openOn(const ATAudioDevice& device, const std::vector<int>& channels, bool quiet) {
    const int count = static_cast<int>(
        std::min<int64_t>(device.outputChannelCount(), ATUnitFormat::kMaxChannels));
    if (count <= 0) return false;
    AudioStreamParameters parameters;
    parameters.device = static_cast<int>(device.deviceID());
    parameters.outputChannels = count;
    parameters.sampleRate = inputFormat_.sampleRate;
    parameters.framesPerBuffer = kPeriodFrames;
    std::string error;
    // Opened beside the stream held, which plays on until this one is ready to start.
    std::unique_ptr<AudioStream> opened =
        choice_.open(parameters, device.defaultSampleRate(), *this, error);
    if (!opened) {
        if (!quiet) {
            QLOG("Could not open audio output %s: %s", device.name().c_str(), error.c_str());
        }
        return false;
    }
    // The host's thread reads the map and the converter until the stream held is closed.
    closeStream();
    const double rate = opened->sampleRate() > 0.0 ? opened->sampleRate() : parameters.sampleRate;
    if (rate != inputFormat_.sampleRate) {
        int result = 0;
        converter_ = src_callback_new(&ATOutput::converterInput, SRC_SINC_FASTEST,
                                      inputFormat_.channels, &result, this);
        if (!converter_) {
            QLOG("Could not convert %.0f Hz to %.0f Hz: %s", inputFormat_.sampleRate, rate,
                 src_strerror(result));
            return false;
        }
        ratio_ = rate / inputFormat_.sampleRate;
        convertedFrom_ = taken_.load(std::memory_order_relaxed);
        converted_ = 0;
    }
    device_ = device;
    map_ = deviceMap(channels, count);
    stream_ = std::move(opened);
    streamChannels_ = count;
    prepareBuffers();
    if (!quiet) logStream();
    return true;
}

void ATOutput::logStream() const {
    if (!stream_ || !device_) return;
    const ATUnitFormat format = streamDescription();
    QLOG("Audio output: %s, device %s, %.0f Hz%s, %d frames, %d channels",
         device_->manufacturer().c_str(), device_->name().c_str(), format.sampleRate,
         converter_ ? " (converted)" : "", kPeriodFrames, format.channels);
}

void ATOutput::closeStream() {
    stream_.reset();
    if (converter_) converter_ = src_delete(converter_);
    // What the converter held will not play: no one waits for it.
    played_.store(taken_.load(std::memory_order_relaxed), std::memory_order_release);
}

bool ATOutput::openAndStart(bool quiet) { return openStream(quiet) && startStream(quiet); }

bool ATOutput::startStream(bool quiet) {
    if (stream_->start()) {
        // A try that plays says what it opened; one that fails said so once already.
        if (quiet) logStream();
        return true;
    }
    // Open but silent, it would keep the host from looking for its devices again.
    closeStream();
    return false;
}

bool ATOutput::reopen() {
    return choice_.reopen(device_,
                          [this](const ATAudioDevice& device, const std::vector<int>& channels) {
                              // Quiet: the watch said once that nothing plays.
                              return openOn(device, channels, true) && startStream(true);
                          });
}

void ATOutput::prepareBuffers() {
    const auto channels = static_cast<size_t>(inputFormat_.channels);
    client_.assign(channels, std::vector<float>(kMaxFrames, 0.0f));
    clientPointers_.clear();
    for (auto& channel : client_) clientPointers_.push_back(channel.data());
    converterIn_.assign(channels * kConverterChunk, 0.0f);
    converterOut_.assign(channels * kMaxFrames, 0.0f);
}

void ATOutput::startPlayback() {
    wantsPlaying_ = true;
    // Whatever fails below, the watch tries again until the stream plays.
    watch_.start();
    // A device awaited plays once listed, and the default says it stands in for it meanwhile.
    if (!stream_ && !(awaiting() ? reopen() : openStream())) return;
    if (!stream_->isActive()) startStream(false);
    if (delegate_) delegate_->changedPlayingState(*this, isPlaying());
}

void ATOutput::stopPlayback() {
    wantsPlaying_ = false;
    watch_.stop();
    if (stream_) stream_->stop();
    if (delegate_) delegate_->changedPlayingState(*this, isPlaying());
}

bool ATOutput::isPlaying() const { return stream_ && stream_->isActive(); }

bool ATOutput::whileStopped(const std::function<bool()>& change) {
    closeStream();
    const bool changed = change();
    // An output that wants to play, lost or not, tries at once with the change; the watch runs
    // on meanwhile and tries again if this fails.
    if (wantsPlaying_) openAndStart();
    return changed;
}

// ---- Settings ----

bool ATOutput::setDevice(const ATAudioDevice& device) {
    if (device.outputChannelCount() <= 0) {
        QLOG("Device %s has no outputs", device.name().c_str());
        return false;
    }
    const std::optional<ATAudioDevice> previous = device_;
    const std::vector<int32_t> previousMap = map_;
    const ATDeviceChoice previousChoice = choice_;
    // The host's thread reads the map until the stream is closed, stopped or not.
    closeStream();
    device_ = device;
    choice_.makeOwn(device);
    map_ = fittedMap();
    if (wantsPlaying_) {
        if (!openAndStart()) {
            QLOG("Keeping the previous audio output device");
            device_ = previous;
            map_ = previousMap;
            choice_ = previousChoice;
            // The watch tries again if the previous one does not play either.
            openAndStart();
            return false;
        }
    }
    // A stopped stream belonged to the previous device; the next start makes a new one.
    if (delegate_) delegate_->changedDevice(*this, device);
    return true;
}

bool ATOutput::setOutputChannel(int channel) {
    const int64_t count = device_ ? device_->outputChannelCount() : 0;
    QLOG("Output channels %lld", static_cast<long long>(count));
    if (channel < 0 || channel >= count) {
        QLOG("Output channel %d is outside the device's %lld channels", channel,
             static_cast<long long>(count));
        return false;
    }
    return whileStopped([&] {
        choice_.pick({channel, channel + 1}, true);
        map_ = fittedMap();
        return true;
    });
}

std::vector<int32_t> ATOutput::deviceMap(const std::vector<int>& channels, int64_t count) {
    std::vector<int32_t> map(static_cast<size_t>(std::max<int64_t>(count, 0)), -1);
    for (size_t j = 0; j < channels.size(); ++j) {
        if (channels[j] >= 0 && channels[j] < count) {
            map[static_cast<size_t>(channels[j])] = static_cast<int32_t>(j);
        }
    }
    return map;
}

std::vector<int32_t> ATOutput::fittedMap() const {
    const int64_t count = device_ ? device_->outputChannelCount() : 0;
    return deviceMap(choice_.fitted(count, device_ ? device_->name() : std::string(), false),
                     count);
}

void ATOutput::awaitDevice(std::optional<std::string> uid, int channel) {
    choice_.await(std::move(uid));
    // The stored pair, or the first where the device has fewer channels.
    choice_.pick({channel, channel + 1}, true);
    // Another device held is no more than a stand-in, which the next start takes as such.
    if (awaiting()) {
        closeStream();
        device_.reset();
    }
}

bool ATOutput::awaiting() const {
    const auto& own = choice_.ownUID();
    return own && (!device_ || device_->UID() != *own) && !choice_.onStandIn();
}

bool ATOutput::mapChannels(const std::vector<int>& channels) {
    const int64_t count = device_ ? device_->outputChannelCount() : 0;
    const bool inside = std::all_of(channels.begin(), channels.end(), [count](int channel) {
        return channel >= 0 && channel < count;
    });
    if (channels.empty() || static_cast<int64_t>(channels.size()) > count || !inside) {
        QLOG("A channel map of %zu entries does not fit the device's %lld channels",
             channels.size(), static_cast<long long>(count));
        return false;
    }
    return whileStopped([&] {
        inputFormat_ = streamFormatWithChannels(static_cast<int>(channels.size()));
        choice_.pick(channels, false);
        map_ = deviceMap(channels, count);
        return true;
    });
}

ATUnitFormat ATOutput::streamFormatWithChannels(int channels) const {
    return {inputFormat_.sampleRate, channels};
}

bool ATOutput::setInputFormat(const ATUnitFormat& format) {
    if (!format.isValid()) {
        QLOG("Ignoring an invalid output format (%.1f Hz, %d channels)", format.sampleRate,
             format.channels);
        return false;
    }
    return whileStopped([&] {
        inputFormat_ = format;
        return true;
    });
}

bool ATOutput::setClientFormat(const AudioStreamBasicDescription& format) {
    // The buffers are made for every channel: a format of more channels than any unit takes is
    // no format a client can mean.
    if (format.mChannelsPerFrame > static_cast<uint32_t>(ATUnitFormat::kMaxChannels)) {
        QLOG("Ignoring a client format of %u channels", format.mChannelsPerFrame);
        return false;
    }
    std::unique_ptr<ATAudioFloatConverter> converter =
        ATAudioFloatConverter::converterWithInputFormat(format);
    if (!converter) {
        QLOG("Ignoring a client format the output cannot convert: %s",
             ATAudioUtilities::stringForAudioStreamBasicDescription(format).c_str());
        return false;
    }
    clientFormat_ = format;
    floatConverter_ = std::move(converter);
    clientFloatData_.assign(format.mChannelsPerFrame, std::vector<float>(kMaxFrames, 0.0f));
    return true;
}

AudioStreamBasicDescription ATOutput::defaultClientFormat() {
    return ATAudioUtilities::monoFloatFormatWithSampleRate(kDefaultSampleRate);
}

ATUnitFormat ATOutput::streamDescription() const {
    if (!stream_) return {};
    return {stream_->sampleRate(), streamChannels_};
}

void ATOutput::setVolume(float volume) {
    volume_.store(std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 1.0f,
                  std::memory_order_relaxed);
}

void ATOutput::setPan(float pan) {
    pan_.store(std::isfinite(pan) ? std::clamp(pan, -1.0f, 1.0f) : 0.0f, std::memory_order_relaxed);
}

void ATOutput::report() {
    const uint64_t underruns = underruns_.load(std::memory_order_relaxed);
    if (underruns != reportedUnderruns_ && stream_) {
        QLOG("Audio output: %llu under-runs, load %.0f%%",
             static_cast<unsigned long long>(underruns - reportedUnderruns_),
             stream_->cpuLoad() * 100.0);
        reportedUnderruns_ = underruns;
    }
}

// ---- The audio thread ----

void ATOutput::pull(int frames) {
    const auto channels = clientPointers_.size();
    for (float* channel : clientPointers_) std::fill_n(channel, frames, 0.0f);
    if (ATOutputDataSource* source = dataSource_.load(std::memory_order_acquire)) {
        source->output(*this, std::span<float* const>(clientPointers_.data(), channels), frames);
    }
    taken_.store(taken_.load(std::memory_order_relaxed) + static_cast<uint64_t>(frames),
                 std::memory_order_release);
    // The mixer's stand-in: a gain, and a balance on the stereo pair.
    const float volume = volume_.load(std::memory_order_relaxed);
    const float pan = pan_.load(std::memory_order_relaxed);
    for (size_t c = 0; c < channels; ++c) {
        float gain = volume;
        if (channels == 2) gain *= c == 0 ? std::min(1.0f, 1.0f - pan) : std::min(1.0f, 1.0f + pan);
        if (gain == 1.0f) continue;
        float* samples = clientPointers_[c];
        for (int i = 0; i < frames; ++i) samples[i] *= gain;
    }
}

long ATOutput::converterInput(void* context, float** data) {
    auto* self = static_cast<ATOutput*>(context);
    const size_t channels = self->clientPointers_.size();
    self->pull(kConverterChunk);
    float* interleaved = self->converterIn_.data();
    for (int i = 0; i < kConverterChunk; ++i) {
        for (size_t c = 0; c < channels; ++c) {
            interleaved[static_cast<size_t>(i) * channels + c] = self->clientPointers_[c][i];
        }
    }
    *data = interleaved;
    return kConverterChunk;
}

void ATOutput::render(float* const* outputs, int offset, int frames) {
    const auto channels = static_cast<int32_t>(clientPointers_.size());
    if (converter_) {
        long produced = src_callback_read(converter_, ratio_, frames, converterOut_.data());
        if (produced < 0) produced = 0;
        converted_ += static_cast<uint64_t>(produced);
        for (size_t c = 0; c < clientPointers_.size(); ++c) {
            float* samples = clientPointers_[c];
            for (long i = 0; i < produced; ++i) {
                samples[i] = converterOut_[static_cast<size_t>(i) * clientPointers_.size() + c];
            }
            std::fill(samples + produced, samples + frames, 0.0f);
        }
    } else {
        pull(frames);
    }
    for (size_t d = 0; d < static_cast<size_t>(streamChannels_); ++d) {
        float* destination = outputs[d] + offset;
        const int32_t source = d < map_.size() ? map_[d] : -1;
        if (source >= 0 && source < channels) {
            std::copy_n(clientPointers_[static_cast<size_t>(source)], frames, destination);
        } else {
            std::fill_n(destination, frames, 0.0f);
        }
    }
}

void ATOutput::process(const float* const* /*inputs*/, float* const* outputs, int frames,
                       bool underrun) {
    if (underrun) underruns_.fetch_add(1, std::memory_order_relaxed);
    if (!outputs) return;
    for (int done = 0; done < frames;) {
        const int chunk = std::min(kMaxFrames, frames - done);
        render(outputs, done, chunk);
        done += chunk;
    }
    // The converter lags the source by nothing (device frame n is client frame n / ratio), but
    // takes ahead what its filter needs: those frames play with a later period.
    const uint64_t taken = taken_.load(std::memory_order_relaxed);
    const uint64_t played =
        converter_
            ? convertedFrom_ + static_cast<uint64_t>(static_cast<double>(converted_) / ratio_)
            : taken;
    played_.store(std::min(played, taken), std::memory_order_release);
}

}  // namespace quenbril
