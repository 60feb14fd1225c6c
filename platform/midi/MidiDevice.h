#pragma once

#include <string>
#include <vector>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/MidiEntity.h"

namespace quenbril {

/// One MIDI client (an ALSA sequencer client or a JACK client). Its identity is the API and the
/// client name, so a client that leaves and returns is the same device.
class MidiDevice {
  public:
    MidiDevice(MidiBackend::Api api, std::string clientName, std::vector<MidiEntity> entities);

    /// Devices made from `ports`, one per client, in the order the clients first appear.
    static std::vector<MidiDevice> fromPorts(MidiBackend::Api api,
                                             const std::vector<MidiPortInfo>& ports);

    const std::string& model() const { return clientName_; }
    const std::string& displayName() const { return clientName_; }
    const std::vector<MidiEntity>& entities() const { return entities_; }
    MidiBackend::Api api() const { return api_; }

    bool sameIdentity(const MidiDevice& other) const {
        return api_ == other.api_ && clientName_ == other.clientName_;
    }
    friend bool operator==(const MidiDevice& a, const MidiDevice& b) {
        return a.sameIdentity(b) && a.ports() == b.ports();
    }

  private:
    std::vector<MidiPortInfo> ports() const;

    MidiBackend::Api api_;
    std::string clientName_;
    std::vector<MidiEntity> entities_;
};

}  // namespace quenbril
