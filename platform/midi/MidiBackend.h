#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi/MidiPortInfo.h"

namespace quenbril {

/// An open input whose port is there but no longer connected to ours.
struct MidiInputLoss {
    MidiPortInfo port;
    /// The port stayed the one we connected to: another program (a patchbay) undid the
    /// connection. Otherwise the port went and was made again under its name (a controller
    /// re-plugged, a program restarted).
    bool undone = false;

    friend bool operator==(const MidiInputLoss&, const MidiInputLoss&) = default;
};

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
    /// when the port cannot be opened. A backend that tells lost inputs may keep one whose port
    /// went since it was listed, unconnected, and tell it lost once a port of that name is back.
    virtual bool openInput(const MidiPortInfo& port, ByteCallback callback) = 0;
    /// After it returns the port's callback is not called again.
    virtual void closeInput(const MidiPortInfo& port) = 0;
    /// The open inputs whose port is there but no longer connected to ours. Each loss is told
    /// once; an input told undone whose port is then made again is told again. Asked on the port
    /// poller's thread after listPorts() found the system.
    virtual std::vector<MidiInputLoss> lostInputs() { return {}; }

    static const char* apiName(Api api);
};

}  // namespace quenbril
