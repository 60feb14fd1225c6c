#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi/MidiPortInfo.h"

namespace quenbril {

/// The MIDI system below the device objects: it lists ports and opens input ports.
///
/// listPorts() runs on the port poller's thread while open and close run on the main thread, so a
/// backend serialises them itself. The byte callback runs on a thread of the backend's (a
/// real-time one for JACK): it must only copy the bytes away.
class MidiBackend {
  public:
    enum class Api { Memory, AlsaSequencer, Jack };
    using ByteCallback = std::function<void(const uint8_t* bytes, size_t length)>;

    virtual ~MidiBackend() = default;

    virtual Api api() const = 0;
    /// The ports now present; nullopt when the MIDI system itself is unreachable (a JACK server
    /// that went away), which removes every device.
    virtual std::optional<std::vector<MidiPortInfo>> listPorts() = 0;
    /// Opens an input port; `callback` gets every message read from it until closeInput(). False
    /// when the port cannot be opened.
    virtual bool openInput(const MidiPortInfo& port, ByteCallback callback) = 0;
    /// After it returns the port's callback is not called again.
    virtual void closeInput(const MidiPortInfo& port) = 0;

    static const char* apiName(Api api);
};

}  // namespace quenbril
