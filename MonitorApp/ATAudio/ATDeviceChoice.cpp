#include "MonitorApp/ATAudio/ATDeviceChoice.h"

#include <algorithm>

#include "foundation/Log.h"

namespace quenbril {

ATDeviceChoice::ATDeviceChoice(std::string unitName, std::string verb, Direction direction,
                               AudioBackend& backend)
    : unitName_(std::move(unitName)),
      verb_(std::move(verb)),
      direction_(direction),
      backend_(&backend) {}

void ATDeviceChoice::makeOwn(const ATAudioDevice& device) {
    ownUID_ = device.UID();
    ownName_ = device.name();
    standIn_ = false;
}

void ATDeviceChoice::await(std::optional<std::string> uid) {
    ownUID_ = std::move(uid);
    ownName_ = ownUID_ ? ATAudioDevice::nameInUID(*ownUID_) : std::string();
    standIn_ = false;
}

int64_t ATDeviceChoice::channelsOf(const ATAudioDevice& device,
                                   const std::optional<ATAudioDevice>& previous) const {
    if (direction_ == Direction::Output) return device.outputChannelCount();
    if (device.inputChannelCount() > 0) return device.inputChannelCount();
    // A host that lists its capture device without its channels lists it so again.
    const bool same = previous && *previous == device && previous->inputChannelCount() > 0;
    return same ? previous->inputChannelCount() : kUncountedInputs;
}

bool ATDeviceChoice::ownListed() const {
    if (!ownUID_) return false;
    const auto own = ATAudioDevice::deviceWithUID(*ownUID_, *backend_);
    // A device listed with nothing in the unit's direction (a JACK server without playback
    // ports) is not the own device back.
    return own && channelsOf(*own) > 0;
}

void ATDeviceChoice::pick(std::vector<int> channels, bool pair) {
    picked_ = std::move(channels);
    pair_ = pair;
}

std::vector<int> ATDeviceChoice::fitted(int64_t count, const std::string& deviceName,
                                        bool say) const {
    bool fits = true;
    std::vector<int> channels = picked_;
    for (size_t j = 0; j < channels.size(); ++j) {
        if (channels[j] < count) continue;
        if (pair_ && j == 1) {
            channels[j] = -1;
        } else {
            fits = false;
        }
    }
    if (fits) return channels;
    // The first channels, as many as the client has where the device has them.
    for (size_t j = 0; j < channels.size(); ++j) {
        channels[j] = static_cast<int64_t>(j) < count && picked_[j] >= 0 ? static_cast<int>(j) : -1;
    }
    if (say) {
        QLOG("%s: channel %d is past the %lld channels of %s; taking its first", unitName_.c_str(),
             *std::max_element(picked_.begin(), picked_.end()) + 1, static_cast<long long>(count),
             deviceName.c_str());
    }
    return channels;
}

std::optional<ATAudioDevice> ATDeviceChoice::defaultDevice() const {
    return direction_ == Direction::Output ? ATAudioDevice::currentOutputDevice(*backend_)
                                           : ATAudioDevice::currentInputDevice(*backend_);
}

bool ATDeviceChoice::reopen(const std::optional<ATAudioDevice>& current, const OpenOn& openOn) {
    // With none picked yet the default becomes the own device; one listed with no channels in
    // the unit's direction is not tried.
    std::optional<ATAudioDevice> own =
        ownUID_ ? ATAudioDevice::deviceWithUID(*ownUID_, *backend_) : defaultDevice();
    if (own && tryOn(std::move(*own), false, current, openOn)) return true;
    std::optional<ATAudioDevice> standIn = defaultDevice();
    if (!standIn || !ownUID_ || standIn->UID() == *ownUID_) return false;
    return tryOn(std::move(*standIn), true, current, openOn);
}

bool ATDeviceChoice::tryOn(ATAudioDevice device, bool standIn,
                           const std::optional<ATAudioDevice>& current, const OpenOn& openOn) {
    const int64_t count = channelsOf(device, current);
    if (count <= 0) return false;
    if (direction_ == Direction::Input) device.setInputChannelCount(count);
    if (!openOn(device, fitted(count, device.name()))) return false;
    const bool wasStandIn = standIn_;
    standIn_ = standIn;
    if (standIn) {
        if (!wasStandIn || !current || !(*current == device)) {
            QLOG("%s: %s is not there; %s %s until it is back", unitName_.c_str(), ownName_.c_str(),
                 verb_.c_str(), device.name().c_str());
        }
        return true;
    }
    if (wasStandIn) QLOG("%s: back on %s", unitName_.c_str(), device.name().c_str());
    if (!ownUID_) makeOwn(device);
    return true;
}

std::unique_ptr<AudioStream> ATDeviceChoice::open(AudioStreamParameters parameters,
                                                  double deviceRate, AudioStreamClient& client,
                                                  std::string& error) const {
    auto stream = backend_->openStream(parameters, client, error);
    if (stream || deviceRate <= 0.0 || deviceRate == parameters.sampleRate) return stream;
    // The device refuses the unit's rate: at its own, which the unit converts.
    parameters.sampleRate = deviceRate;
    return backend_->openStream(parameters, client, error);
}

}  // namespace quenbril
