#pragma once

#include <string>
#include <tuple>

namespace quenbril {

/// One port of a MIDI client as a backend lists it. Ports are known by client and port name,
/// never by index, so that a client that returns is recognised.
struct MidiPortInfo {
    /// Input: a port we read (a source). Output: a port we write (a destination).
    enum class Direction { Input, Output };

    std::string client;
    std::string port;
    Direction direction = Direction::Input;

    friend bool operator==(const MidiPortInfo&, const MidiPortInfo&) = default;
    friend bool operator<(const MidiPortInfo& a, const MidiPortInfo& b) {
        return std::tie(a.client, a.port, a.direction) < std::tie(b.client, b.port, b.direction);
    }
};

}  // namespace quenbril
