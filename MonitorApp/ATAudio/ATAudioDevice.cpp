#include "MonitorApp/ATAudio/ATAudioDevice.h"

#include <cinttypes>
#include <cstdio>
#include <map>

namespace quenbril {

namespace {

int64_t total(const std::vector<int>& streams) {
    int64_t sum = 0;
    for (int count : streams) sum += count;
    return sum;
}

}  // namespace

std::string ATAudioDevice::description() const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "<ATAudioDevice> { deviceID: %u, manufacturer: %s, name: %s, UID: %s, "
                  "inputChannelCount: %" PRId64 ", outputChannelCount: %" PRId64 " }",
                  deviceID_, manufacturer_.c_str(), name_.c_str(), uid_.c_str(), inputChannelCount_,
                  outputChannelCount_);
    return text;
}

std::vector<ATAudioDevice> ATAudioDevice::fromBackend(AudioBackend& backend) {
    std::vector<ATAudioDevice> list;
    std::map<std::string, int> seen;
    for (const AudioBackendDevice& source : backend.devices()) {
        ATAudioDevice device;
        device.deviceID_ = static_cast<uint32_t>(source.index);
        device.name_ = source.name;
        device.manufacturer_ = source.hostAPI;
        device.inputChannelCount_ = total(source.inputStreams);
        device.outputChannelCount_ = total(source.outputStreams);
        device.defaultSampleRate_ = source.defaultSampleRate;
        device.uid_ = source.hostAPI + ":" + source.name;
        // Equal names are told apart by their order, which hosts keep from run to run.
        const int count = ++seen[device.uid_];
        if (count > 1) device.uid_ += "#" + std::to_string(count);
        list.push_back(std::move(device));
    }
    return list;
}

void ATAudioDevice::enumerateDevicesUsingBlock(
    const std::function<void(const ATAudioDevice&, bool&)>& block, AudioBackend& backend) {
    bool stop = false;
    for (const ATAudioDevice& device : fromBackend(backend)) {
        block(device, stop);
        if (stop) break;
    }
}

std::vector<ATAudioDevice> ATAudioDevice::devices(AudioBackend& backend) {
    return fromBackend(backend);
}

std::vector<ATAudioDevice> ATAudioDevice::inputDevices(AudioBackend& backend) {
    std::vector<ATAudioDevice> list;
    for (ATAudioDevice& device : fromBackend(backend)) {
        if (device.inputChannelCount_ > 0) list.push_back(std::move(device));
    }
    return list;
}

std::vector<ATAudioDevice> ATAudioDevice::outputDevices(AudioBackend& backend) {
    std::vector<ATAudioDevice> list;
    for (ATAudioDevice& device : fromBackend(backend)) {
        if (device.outputChannelCount_ > 0) list.push_back(std::move(device));
    }
    return list;
}

std::optional<ATAudioDevice> ATAudioDevice::byIndex(std::optional<int> index,
                                                    AudioBackend& backend) {
    if (!index) return std::nullopt;
    for (ATAudioDevice& device : fromBackend(backend)) {
        if (static_cast<int>(device.deviceID_) == *index) return std::move(device);
    }
    return std::nullopt;
}

std::optional<ATAudioDevice> ATAudioDevice::currentInputDevice(AudioBackend& backend) {
    return byIndex(backend.defaultInputDevice(), backend);
}

std::optional<ATAudioDevice> ATAudioDevice::currentOutputDevice(AudioBackend& backend) {
    return byIndex(backend.defaultOutputDevice(), backend);
}

std::optional<ATAudioDevice> ATAudioDevice::deviceWithUID(const std::string& uid,
                                                          AudioBackend& backend) {
    for (ATAudioDevice& device : fromBackend(backend)) {
        if (device.uid_ == uid) return std::move(device);
    }
    return std::nullopt;
}

std::string ATAudioDevice::nameInUID(const std::string& uid) {
    // Host names hold no colon; device names may ("hw:0").
    const size_t colon = uid.find(':');
    return colon == std::string::npos ? uid : uid.substr(colon + 1);
}

}  // namespace quenbril
