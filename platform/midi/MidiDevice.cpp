#include "platform/midi/MidiDevice.h"

#include <algorithm>

namespace quenbril {

MidiDevice::MidiDevice(MidiBackend::Api api, std::string clientName,
                       std::vector<MidiEntity> entities)
    : api_(api), clientName_(std::move(clientName)), entities_(std::move(entities)) {}

std::vector<MidiDevice> MidiDevice::fromPorts(MidiBackend::Api api,
                                              const std::vector<MidiPortInfo>& ports) {
    std::vector<MidiDevice> devices;
    for (const MidiPortInfo& port : ports) {
        auto device = std::find_if(devices.begin(), devices.end(), [&](const MidiDevice& d) {
            return d.clientName_ == port.client;
        });
        if (device == devices.end()) {
            devices.emplace_back(api, port.client, std::vector<MidiEntity>(1));
            device = devices.end() - 1;
        }
        MidiEntity& entity = device->entities_.front();
        (port.direction == MidiPortInfo::Direction::Input ? entity.sources : entity.destinations)
            .push_back(port);
    }
    return devices;
}

std::vector<MidiPortInfo> MidiDevice::ports() const {
    std::vector<MidiPortInfo> all;
    for (const MidiEntity& entity : entities_) {
        all.insert(all.end(), entity.sources.begin(), entity.sources.end());
        all.insert(all.end(), entity.destinations.begin(), entity.destinations.end());
    }
    return all;
}

}  // namespace quenbril
