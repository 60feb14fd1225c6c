#include "MonitorApp/ATAudio/ATMicrophone.h"

#include <algorithm>

#include "MonitorApp/ATAudio/ATOutput.h"
#include "foundation/Log.h"

namespace quenbril {

ATMicrophone::ATMicrophone(ATMicrophoneDelegate* delegate, AudioBackend& backend)
    : backend_(backend),
      delegate_(delegate),
      watch_("Audio input", backend,
             {[this] { return stream_.get(); }, [this] { closeStream(); },
              [this] { return reopen(); }, nullptr, false, [this] { return standIn_; },
              [this] {
                  return ownUID_ && ATAudioDevice::deviceWithUID(*ownUID_, backend_).has_value();
              }}) {
    device_ = ATAudioDevice::currentInputDevice(backend_);
    if (device_) ownUID_ = device_->UID();
    if (!device_) {
        QLOG("No audio input device");
        return;
    }
    if (device_->inputChannelCount() <= 0) {
        // Some hosts list their capture device without its channels: it is tried with the
        // device side's own count.
        device_->setInputChannelCount(inputFormat().channels);
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
    map_.assign(static_cast<size_t>(numberOfChannels()), -1);
    for (int k = 0; k < channels && k < numberOfChannels(); ++k) {
        map_[static_cast<size_t>(k)] = k;
    }
}

// ---- Capturing ----

bool ATMicrophone::openStream(bool quiet) {
    closeStream();
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
    AudioStreamParameters parameters;
    parameters.device = static_cast<int>(device_->deviceID());
    parameters.inputChannels = numberOfChannels();
    parameters.sampleRate = streamFormat_.sampleRate;
    parameters.framesPerBuffer = kSliceFrames;
    std::string error;
    stream_ = backend_.openStream(parameters, *this, error);
    if (!stream_) {
        if (!quiet) {
            QLOG("Could not open audio input %s: %s", device_->name().c_str(), error.c_str());
        }
        return false;
    }
    const auto channels = static_cast<size_t>(streamFormat_.channels);
    floatData_.assign(channels, std::vector<float>(kSliceFrames, 0.0f));
    floatPointers_.clear();
    for (auto& channel : floatData_) floatPointers_.push_back(channel.data());
    audioBuffers_.assign(channels, AudioBuffer{});
    audioBufferList_ = {static_cast<uint32_t>(channels), audioBuffers_.data()};
    for (auto& copy : lastSlices_) copy.assign(channels, std::vector<float>(kSliceFrames, 0.0f));
    lastSlice_.store(-1);
    lastFrames_.store(0);
    QLOG("Audio input: %s, device %s, %.0f Hz, %d frames, %d of %d channels",
         device_->manufacturer().c_str(), device_->name().c_str(), streamFormat_.sampleRate,
         kSliceFrames, streamFormat_.channels, numberOfChannels());
    return true;
}

void ATMicrophone::closeStream() { stream_.reset(); }

bool ATMicrophone::reopen() {
    // The own device while it is listed, else the default stands in for it.
    std::optional<ATAudioDevice> own =
        ownUID_ ? ATAudioDevice::deviceWithUID(*ownUID_, backend_) : std::nullopt;
    if (own && captureFrom(std::move(*own), false)) return true;
    std::optional<ATAudioDevice> standIn = ATAudioDevice::currentInputDevice(backend_);
    if (!standIn || (ownUID_ && standIn->UID() == *ownUID_)) return false;
    return captureFrom(std::move(*standIn), ownUID_.has_value());
}

bool ATMicrophone::captureFrom(ATAudioDevice back, bool standIn) {
    if (back.inputChannelCount() <= 0) {
        // A host that listed the device without its channels lists it so again: it is tried
        // with the count it had before, another device of that kind with the count a default
        // one gets at the start.
        const bool same = device_ && back == *device_ && device_->inputChannelCount() > 0;
        back.setInputChannelCount(same ? device_->inputChannelCount() : kDefaultInputChannels);
    }
    if (back.inputChannelCount() < static_cast<int64_t>(map_.size())) return false;
    const bool wasStandIn = standIn_;
    const std::optional<ATAudioDevice> previous = device_;
    device_ = std::move(back);
    standIn_ = standIn;
    // Quiet: the watch said once that nothing is captured.
    if (!openStream(true) || !stream_->start()) {
        closeStream();
        // As it was, so that a stand-in taken again is not told twice.
        device_ = previous;
        standIn_ = wasStandIn;
        return false;
    }
    if (standIn && (!wasStandIn || !previous || previous->UID() != device_->UID())) {
        QLOG("Audio input: %s is not there; capturing from %s until it is back",
             ATAudioDevice::nameInUID(*ownUID_).c_str(), device_->name().c_str());
    } else if (!standIn && wasStandIn) {
        QLOG("Audio input: back on %s", device_->name().c_str());
    }
    if (!ownUID_ && !standIn) ownUID_ = device_->UID();
    return true;
}

void ATMicrophone::startFetchingAudio() {
    microphoneOn_ = true;
    if (!stream_ && !openStream()) return;
    if (stream_->start()) watch_.start();
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
    const bool running = microphoneOn_;
    closeStream();
    const bool changed = change();
    if (running && openStream() && stream_->start()) watch_.start();
    return changed;
}

// ---- Settings ----

bool ATMicrophone::setDevice(const ATAudioDevice& device) {
    // A device without inputs is taken with its input off: the unit has no input to give.
    if (device.inputChannelCount() <= 0)
        QLOG("Audio input %s has no input channels: its input is off", device.name().c_str());
    const bool changed = whileStopped([&] {
        device_ = device;
        ownUID_ = device.UID();
        standIn_ = false;
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
        map_.assign(static_cast<size_t>(count), -1);
        std::copy(channels.begin(), channels.end(), map_.begin());
        streamFormat_ = streamFormatWithChannels(static_cast<int>(channels.size()));
        if (output_) output_->setInputFormat(streamFormat_);
        return true;
    });
}

void ATMicrophone::setOutput(ATOutput* output) {
    output_ = output;
    feedsOutput_.store(output != nullptr);
    if (!output_) return;
    output_->setInputFormat(streamFormat_);
    output_->setDataSource(this);
}

// ---- The audio threads ----

void ATMicrophone::process(const float* const* inputs, float* const* /*outputs*/, int frames,
                           bool /*underrun*/) {
    const size_t channels = floatPointers_.size();
    ATMicrophoneDelegate* delegate = delegate_.load(std::memory_order_acquire);
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
        if (delegate) {
            // The list is the float channels themselves; what a delegate changed of the list
            // for one slice is set back for the next.
            audioBufferList_ = {static_cast<uint32_t>(channels), audioBuffers_.data()};
            for (size_t k = 0; k < channels; ++k) {
                audioBuffers_[k] = {1, static_cast<uint32_t>(slice * sizeof(float)),
                                    floatPointers_[k]};
            }
            delegate->hasBufferList(*this, &audioBufferList_, slice, static_cast<int>(channels));
            delegate->hasAudioReceived(*this, floatPointers_.data(), slice,
                                       static_cast<int>(channels));
        }
        if (feedsOutput_.load(std::memory_order_relaxed)) {
            // Publish the slice in the copy the output is not reading.
            const int next = lastSlice_.load(std::memory_order_relaxed) == 0 ? 1 : 0;
            auto& copy = lastSlices_[next];
            for (size_t k = 0; k < channels; ++k) {
                std::copy_n(floatPointers_[k], slice, copy[k].data());
            }
            lastFrames_.store(slice, std::memory_order_relaxed);
            lastSlice_.store(next, std::memory_order_release);
        }
        done += slice;
    }
}

int ATMicrophone::output(ATOutput& /*output*/, std::span<float* const> buffers,
                         int numberOfFrames) {
    const int index = lastSlice_.load(std::memory_order_acquire);
    if (index < 0) return 0;
    const auto& copy = lastSlices_[index];
    const int frames = std::min(numberOfFrames, lastFrames_.load(std::memory_order_relaxed));
    for (size_t k = 0; k < buffers.size() && k < copy.size(); ++k) {
        if (!buffers[k]) continue;
        std::copy_n(copy[k].data(), frames, buffers[k]);
        std::fill(buffers[k] + frames, buffers[k] + numberOfFrames, 0.0f);
    }
    return 0;
}

}  // namespace quenbril
