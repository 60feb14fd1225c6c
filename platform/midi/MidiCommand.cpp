#include "platform/midi/MidiCommand.h"

#include <cstdio>

namespace quenbril {

std::optional<MidiCommand> MidiCommand::fromBytes(const uint8_t* bytes, size_t length) {
    if (length == 0 || (bytes[0] & 0x80) == 0) {
        return std::nullopt;
    }
    // SysEx (0xF0) and its end marker (0xF7), and the real-time messages (0xF8 to 0xFF), would
    // make a learn catch a clock tick rather than the pad that was touched.
    const uint8_t status = bytes[0];
    if (status == 0xF0 || status >= 0xF7) {
        return std::nullopt;
    }
    MidiCommand command;
    command.statusByte = status;
    // Data bytes stop at the first byte with the high bit set.
    if (length > 1 && (bytes[1] & 0x80) == 0) {
        command.dataByte1 = bytes[1];
        if (length > 2 && (bytes[2] & 0x80) == 0) {
            command.dataByte2 = bytes[2];
        }
    }
    return command;
}

std::string MidiCommand::description() const {
    char text[64];
    std::snprintf(text, sizeof text, "MidiCommand status 0x%02X data %u %u", statusByte,
                  unsigned{dataByte1}, unsigned{dataByte2});
    return text;
}

}  // namespace quenbril
