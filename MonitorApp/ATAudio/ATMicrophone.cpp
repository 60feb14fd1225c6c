#include "MonitorApp/ATAudio/ATMicrophone.h"

#include <samplerate.h>

#include <algorithm>

#include "MonitorApp/ATAudio/ATOutput.h"
#include "foundation/Log.h"

namespace quenbril {

ATMicrophone::ATMicrophone(ATMicrophoneDelegate* delegate, AudioBackend& backend)
    : delegate_(delegate),
      choice_("Audio input", "capturing from", ATDeviceChoice::Direction::Input, backend),
      watch_("Audio input", backend,
             {[this] { return stream_.get(); }, [this] { closeStream(); },
              [this] { return reopen(); }, nullptr,
              // A device taken with its input off has nothing to capture.
              [this] { return microphoneOn_ && (!device_ || numberOfChannels() > 0); },
              [this] { return choice_.onStandIn(); }, [this] { return choice_.ownListed(); }}) {
    device_ = ATAudioDevice::currentInputDevice(backend);
    if (device_) choice_.makeOwn(*device_);
    if (!device_) {
        QLOG("No audio input device");
        return;
    }
    if (device_->inputChannelCount() <= 0) {
        // Some hosts list their capture device without its channels: it is tried with the
        // count the device choice gives such a device, the device side's default.
        device_->setInputChannelCount(choice_.channelsOf(*device_));
        QLOG("Audio input %s reports no channels; trying %lld", device_->name().c_str(),
             static_cast<long long>(device_->inputChannelCount()));
    }
    identityMap(numberOfChannels());
    streamFormat_ = defaultStreamFormat();
}

ATMicrophone::ATMicrophone(ATMicrophoneDelegate* delegate, const ATUnitFormat& format,
                           bool startsImmediately, AudioBackend& backend)
    : ATMicrophone(delegate, backend) {
    setAudioStreamBasicDescription(format);
    if (startsImmediately) startFetchingAudio();
}

ATMicrophone::~ATMicrophone() {
    watch_.stop();
    closeStream();
}

ATMicrophone& ATMicrophone::sharedMicrophone() {
    static auto* microphone = new ATMicrophone();
    return *microphone;
}

int ATMicrophone::numberOfChannels() const {
    return device_ ? static_cast<int>(std::min<int64_t>(device_->inputChannelCount(),
                                                        ATUnitFormat::kMaxChannels))
                   : 0;
}

ATUnitFormat ATMicrophone::inputFormat() const {
    if (!device_) return {};
    const double rate = device_->defaultSampleRate() > 0.0 ? device_->defaultSampleRate() : 48000.0;
    const int channels = numberOfChannels();
    return {rate, channels > 0 ? channels : kDefaultInputChannels};
}

ATUnitFormat ATMicrophone::streamFormatWithChannels(int channels) const {
    const double rate = streamFormat_.sampleRate > 0.0 ? streamFormat_.sampleRate
                        : device_ && device_->defaultSampleRate() > 0.0
                            ? device_->defaultSampleRate()
                            : 48000.0;
    return {rate, channels};
}

ATUnitFormat ATMicrophone::defaultStreamFormat() const {
    return streamFormatWithChannels(numberOfChannels());
}

void ATMicrophone::identityMap(int channels) {
    std::vector<int> picked;
    for (int k = 0; k < channels && k < numberOfChannels(); ++k) picked.push_back(k);
    choice_.pick(picked, false);
    setMap(picked);
}

void ATMicrophone::setMap(const std::vector<int>& channels) {
    map_.assign(std::max(static_cast<size_t>(numberOfChannels()), channels.size()), -1);
    std::copy(channels.begin(), channels.end(), map_.begin());
}

// ---- Capturing ----

bool ATMicrophone::openStream(bool quiet) {
    if (device_ && numberOfChannels() <= 0) {
        if (!quiet) {
            QLOG("Audio input %s has no input channels: nothing is captured",
                 device_->name().c_str());
        }
        return false;
    }
    if (!device_ || !streamFormat_.isValid()) {
        if (!quiet) QLOG("No audio input device to capture from");
        return false;
    }
    return openOn(*device_, choice_.fitted(numberOfChannels(), device_->name()), quiet);
}

bool ATMicrophone::openOn(const ATAudioDevice& device, const std::vector<int>& channels,
                          bool quiet) {
    const int count =
        static_cast<int>(std::min<int64_t>(device.inputChannelCount(), ATUnitFormat::kMaxChannels));
    if (count <= 0 || !streamFormat_.isValid()) return false;
    AudioStreamParameters parameters;
    parameters.device = static_cast<int>(device.deviceID());
    parameters.inputChannels = count;
    parameters.sampleRate = streamFormat_.sampleRate;
    parameters.framesPerBuffer = kSliceFrames;
    std::string error;
    // Opened beside the stream held, which captures on until this one is ready to start.
    std::unique_ptr<AudioStream> opened =
        choice_.open(parameters, device.defaultSampleRate(), *this, error);
    if (!opened) {
        if (!quiet) {
            QLOG("Could not open audio input %s: %s", device.name().c_str(), error.c_str());
        }
        return false;
    }
    // The host's thread reads the map and the buffers until the stream held is closed.
    closeStream();
    const auto clientChannels = static_cast<size_t>(streamFormat_.channels);
    const double rate = opened->sampleRate() > 0.0 ? opened->sampleRate() : parameters.sampleRate;
    if (rate != streamFormat_.sampleRate) {
        int result = 0;
        converter_ = src_new(SRC_SINC_FASTEST, streamFormat_.channels, &result);
        if (!converter_) {
            QLOG("Could not convert %.0f Hz to %.0f Hz: %s", rate, streamFormat_.sampleRate,
                 src_strerror(result));
            return false;
        }
        ratio_ = streamFormat_.sampleRate / rate;
        converterIn_.assign(clientChannels * kSliceFrames, 0.0f);
        converterOut_.assign(clientChannels * kMaxFrames, 0.0f);
    }
    device_ = device;
    setMap(channels);
    stream_ = std::move(opened);
    floatData_.assign(clientChannels, std::vector<float>(kSliceFrames, 0.0f));
    floatPointers_.clear();
    for (auto& channel : floatData_) floatPointers_.push_back(channel.data());
    audioBuffers_.assign(clientChannels, AudioBuffer{});
    audioBufferList_ = {static_cast<uint32_t>(clientChannels), audioBuffers_.data()};
    // Nothing of the new stream's to play yet.
    lastFrames_.store(0);
    QLOG("Audio input: %s, device %s, %.0f Hz%s, %d frames, %d of %d channels",
         device_->manufacturer().c_str(), device_->name().c_str(), rate,
         converter_ ? " (converted)" : "", kSliceFrames, streamFormat_.channels,
         numberOfChannels());
    return true;
}

void ATMicrophone::closeStream() {
    stream_.reset();
    if (converter_) converter_ = src_delete(converter_);
}

bool ATMicrophone::reopen() {
    return choice_.reopen(device_,
                          [this](const ATAudioDevice& device, const std::vector<int>& channels) {
                              // Quiet: the watch said once that nothing is captured.
                              return openOn(device, channels, true) && startStream();
                          });
}

bool ATMicrophone::startStream() {
    if (stream_->start()) return true;
    closeStream();
    return false;
}

void ATMicrophone::startFetchingAudio() {
    microphoneOn_ = true;
    // Whatever fails below, the watch tries again until the stream captures.
    watch_.start();
    if (!stream_ && !openStream()) return;
    if (!stream_->isActive()) startStream();
    if (auto* delegate = delegate_.load()) delegate->changedPlayingState(*this, true);
}

void ATMicrophone::stopFetchingAudio() {
    microphoneOn_ = false;
    watch_.stop();
    if (stream_) stream_->stop();
    if (auto* delegate = delegate_.load()) delegate->changedPlayingState(*this, false);
}

void ATMicrophone::closeDevice() {
    stopFetchingAudio();
    closeStream();
}

bool ATMicrophone::whileStopped(const std::function<bool()>& change) {
    // Capture that is on without a stream (a device without inputs, one that could not be
    // opened, one that went away) is tried again with the change.
    closeStream();
    const bool changed = change();
    if (microphoneOn_ && openStream()) startStream();
    return changed;
}

// ---- Settings ----

bool ATMicrophone::setDevice(const ATAudioDevice& device) {
    // A device without inputs is taken with its input off: the unit has no input to give.
    if (device.inputChannelCount() <= 0)
        QLOG("Audio input %s has no input channels: its input is off", device.name().c_str());
    const bool changed = whileStopped([&] {
        device_ = device;
        choice_.makeOwn(device);
        identityMap(numberOfChannels());
        streamFormat_ = streamFormatWithChannels(numberOfChannels());
        return true;
    });
    if (auto* delegate = delegate_.load()) delegate->changedDevice(*this, device);
    return changed;
}

bool ATMicrophone::setAudioStreamBasicDescription(const ATUnitFormat& format) {
    if (!format.isValid() || format.channels > numberOfChannels()) {
        QLOG("Ignoring an input format of %.1f Hz and %d channels", format.sampleRate,
             format.channels);
        return false;
    }
    const bool changed = whileStopped([&] {
        if (format.channels != streamFormat_.channels) identityMap(format.channels);
        streamFormat_ = format;
        return true;
    });
    if (output_) output_->setInputFormat(streamFormat_);
    if (auto* delegate = delegate_.load()) delegate->hasAudioStreamBasicDescription(*this, format);
    return changed;
}

bool ATMicrophone::mapChannels(const std::vector<int>& channels) {
    const int count = numberOfChannels();
    const bool inside = std::all_of(channels.begin(), channels.end(), [count](int channel) {
        return channel >= 0 && channel < count;
    });
    if (channels.empty() || static_cast<int>(channels.size()) > count || !inside) {
        QLOG("A channel map of %zu entries does not fit the device's %d inputs", channels.size(),
             count);
        return false;
    }
    return whileStopped([&] {
        choice_.pick(channels, false);
        setMap(channels);
        streamFormat_ = streamFormatWithChannels(static_cast<int>(channels.size()));
        if (output_) output_->setInputFormat(streamFormat_);
        return true;
    });
}

void ATMicrophone::setOutput(ATOutput* output) {
    output_ = output;
    if (output && lastSlices_[0].empty()) {
        for (auto& copy : lastSlices_) {
            copy.assign(ATUnitFormat::kMaxChannels, std::vector<float>(kSliceFrames, 0.0f));
        }
    }
    feedsOutput_.store(output != nullptr, std::memory_order_release);
    if (!output_) return;
    output_->setInputFormat(streamFormat_);
    output_->setDataSource(this);
}

// ---- The audio threads ----

void ATMicrophone::process(const float* const* inputs, float* const* /*outputs*/, int frames,
                           bool /*underrun*/) {
    if (converter_) {
        convertAndHandOn(inputs, frames);
        return;
    }
    const size_t channels = floatPointers_.size();
    for (int done = 0; done < frames;) {
        const int slice = std::min(kSliceFrames, frames - done);
        for (size_t k = 0; k < channels; ++k) {
            const int32_t source = map_[k];
            float* destination = floatPointers_[k];
            if (inputs && source >= 0) {
                std::copy_n(inputs[source] + done, slice, destination);
            } else {
                std::fill_n(destination, slice, 0.0f);
            }
        }
        handOn(slice);
        done += slice;
    }
}

void ATMicrophone::convertAndHandOn(const float* const* inputs, int frames) {
    const size_t channels = floatPointers_.size();
    for (int done = 0; done < frames;) {
        const int piece = std::min(kSliceFrames, frames - done);
        for (int i = 0; i < piece; ++i) {
            for (size_t k = 0; k < channels; ++k) {
                const int32_t source = map_[k];
                converterIn_[static_cast<size_t>(i) * channels + k] =
                    inputs && source >= 0 ? inputs[source][done + i] : 0.0f;
            }
        }
        SRC_DATA data{};
        data.data_in = converterIn_.data();
        data.data_out = converterOut_.data();
        data.input_frames = piece;
        data.output_frames = kMaxFrames;
        data.src_ratio = ratio_;
        if (src_process(converter_, &data) != 0) data.output_frames_gen = 0;
        for (long made = 0; made < data.output_frames_gen;) {
            const int slice =
                static_cast<int>(std::min<long>(kSliceFrames, data.output_frames_gen - made));
            for (size_t k = 0; k < channels; ++k) {
                for (int i = 0; i < slice; ++i) {
                    floatPointers_[k][i] =
                        converterOut_[static_cast<size_t>(made + i) * channels + k];
                }
            }
            handOn(slice);
            made += slice;
        }
        done += piece;
    }
}

void ATMicrophone::handOn(int slice) {
    const size_t channels = floatPointers_.size();
    if (ATMicrophoneDelegate* delegate = delegate_.load(std::memory_order_acquire)) {
        // The list is the float channels themselves; what a delegate changed of the list for
        // one slice is set back for the next.
        audioBufferList_ = {static_cast<uint32_t>(channels), audioBuffers_.data()};
        for (size_t k = 0; k < channels; ++k) {
            audioBuffers_[k] = {1, static_cast<uint32_t>(slice * sizeof(float)), floatPointers_[k]};
        }
        delegate->hasBufferList(*this, &audioBufferList_, slice, static_cast<int>(channels));
        delegate->hasAudioReceived(*this, floatPointers_.data(), slice, static_cast<int>(channels));
    }
    if (feedsOutput_.load(std::memory_order_acquire)) {
        // Publish the slice in the copy the output is not reading.
        const int next = lastSlice_.load(std::memory_order_relaxed) == 0 ? 1 : 0;
        auto& copy = lastSlices_[next];
        for (size_t k = 0; k < channels; ++k) {
            std::copy_n(floatPointers_[k], slice, copy[k].data());
        }
        lastFrames_.store(slice, std::memory_order_relaxed);
        lastChannels_.store(static_cast<int>(channels), std::memory_order_relaxed);
        lastSlice_.store(next, std::memory_order_release);
    }
}

int ATMicrophone::output(ATOutput& /*output*/, std::span<float* const> buffers,
                         int numberOfFrames) {
    const int index = lastSlice_.load(std::memory_order_acquire);
    if (index < 0) return 0;
    const auto& copy = lastSlices_[index];
    const int frames = std::min(numberOfFrames, lastFrames_.load(std::memory_order_relaxed));
    const auto channels = static_cast<size_t>(lastChannels_.load(std::memory_order_relaxed));
    for (size_t k = 0; k < buffers.size(); ++k) {
        if (!buffers[k]) continue;
        const int kept = k < channels && k < copy.size() ? frames : 0;
        if (kept > 0) std::copy_n(copy[k].data(), kept, buffers[k]);
        std::fill(buffers[k] + kept, buffers[k] + numberOfFrames, 0.0f);
    }
    return 0;
}

}  // namespace quenbril
