#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// One audio device of the machine: this run's number for it, its name, its host API (as the
/// maker), its channel totals and the UID it is stored and re-found by across runs,
/// "<host API>:<name>", with "#2", "#3"... for later devices of an equal name. Two devices are
/// equal when their UIDs are.
class ATAudioDevice {
  public:
    ATAudioDevice() = default;

    uint32_t deviceID() const { return deviceID_; }
    const std::string& name() const { return name_; }
    const std::string& manufacturer() const { return manufacturer_; }
    int64_t inputChannelCount() const { return inputChannelCount_; }
    void setInputChannelCount(int64_t count) { inputChannelCount_ = count; }
    int64_t outputChannelCount() const { return outputChannelCount_; }
    const std::string& UID() const { return uid_; }
    /// The rate the device runs at unless asked otherwise.
    double defaultSampleRate() const { return defaultSampleRate_; }

    bool operator==(const ATAudioDevice& other) const { return uid_ == other.uid_; }
    std::string description() const;

    /// Calls `block` for each device in the host's order until it sets its flag.
    static void enumerateDevicesUsingBlock(
        const std::function<void(const ATAudioDevice&, bool&)>& block,
        AudioBackend& backend = AudioBackend::shared());
    static std::vector<ATAudioDevice> devices(AudioBackend& backend = AudioBackend::shared());
    /// The devices with at least one input channel.
    static std::vector<ATAudioDevice> inputDevices(AudioBackend& backend = AudioBackend::shared());
    /// The devices with at least one output channel.
    static std::vector<ATAudioDevice> outputDevices(AudioBackend& backend = AudioBackend::shared());
    /// The host's default input or output device; none on a machine without one.
    static std::optional<ATAudioDevice> currentInputDevice(
        AudioBackend& backend = AudioBackend::shared());
    static std::optional<ATAudioDevice> currentOutputDevice(
        AudioBackend& backend = AudioBackend::shared());
    /// The device with `uid`, if the host lists it now.
    static std::optional<ATAudioDevice> deviceWithUID(
        const std::string& uid, AudioBackend& backend = AudioBackend::shared());
    /// The device's name in a UID: what follows its host's name ("ALSA:default" -> "default").
    static std::string nameInUID(const std::string& uid);

  private:
    static std::vector<ATAudioDevice> fromBackend(AudioBackend& backend);
    static std::optional<ATAudioDevice> byIndex(std::optional<int> index, AudioBackend& backend);

    uint32_t deviceID_ = 0;
    std::string name_;
    std::string manufacturer_;
    int64_t inputChannelCount_ = 0;
    int64_t outputChannelCount_ = 0;
    std::string uid_;
    double defaultSampleRate_ = 0.0;
};

}  // namespace quenbril
