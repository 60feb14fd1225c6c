#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quenbril {

/// One channel or system-common MIDI message as the device layer hands it on: the status byte
/// and up to two data bytes (0 where the message has fewer).
struct MidiCommand {
    uint8_t statusByte = 0;
    uint8_t dataByte1 = 0;
    uint8_t dataByte2 = 0;

    /// The message in `bytes`, or nullopt for what is never posted: bytes without a status byte,
    /// system real-time messages (clock, active sensing...) and SysEx.
    static std::optional<MidiCommand> fromBytes(const uint8_t* bytes, size_t length);

    /// For the log: "MidiCommand status 0x92 data 60 100".
    std::string description() const;

    friend bool operator==(const MidiCommand&, const MidiCommand&) = default;
};

}  // namespace quenbril
