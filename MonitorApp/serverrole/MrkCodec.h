#pragma once

// The Wisycom receivers' frames: C0 src dst seq len flags cmd payload checksum C1, with 0x7D
// escaping on the wire. Plain functions over byte buffers.

#include <cstddef>
#include <cstdint>

namespace quenbril {

constexpr uint8_t MRK_START = 0xC0;
constexpr uint8_t MRK_END = 0xC1;
constexpr uint8_t MRK_ESCAPE = 0x7D;
constexpr uint8_t MRK_BROADCAST = 0xFF;
constexpr uint8_t MRK_OPEN = 0x00;
constexpr uint8_t MRK_SERIAL = 0x03;
constexpr uint8_t MRK_STATUS = 0x0D;
constexpr uint8_t MRK_NETBUILD = 0x11;
constexpr uint8_t MRK_NAME = 0x20;
/// Flag of `mrk_parse_frame`: the frame is shorter than its length byte says, or that length
/// is not the command's.
constexpr int32_t MRK_BAD_LENGTH = 0x1000;

/// What `mrk_parse_frame` reads out of a reply.
struct mrk_frame_info {
    /// NAME replies: the 12 characters and a NUL.
    char name[13];
    int32_t source;
};

/// The STATUS payload's fields.
struct mrk_status {
    int32_t flag7bit2, flag7bit3, flag7bit4;
    uint8_t rfA, rfB, byte10;
    int32_t antennaFlags[8];
    int32_t batteryFlags[3];
    int32_t batteryBars;
};

/// The STATUS payload as the driver uses it.
struct mrk_summary {
    int32_t battery;
    int32_t rfAPercent;
    int32_t rfBPercent;
    int32_t antennaA;
    int32_t antennaB;
};

/// Writes an unescaped frame (NETBUILD with its payload, other commands without) and returns
/// its length (9 or 12); -1 when `size` is too small. Each frame takes the next sequence number.
int mrk_build_command(uint8_t command, uint8_t destination, uint8_t* out, size_t size);
/// The sequence number the next frame built carries.
void mrk_set_sequence(uint8_t sequence);
/// Escapes a whole frame; `out` holds twice `length`. Returns the escaped length.
size_t mrk_escape(const uint8_t* in, uint8_t* out, size_t length);
/// Un-escapes; `out` holds `length`. Returns the length, or -1 when the last byte is an escape.
int mrk_unescape(const uint8_t* in, uint8_t* out, size_t length);
/// The command byte (offset 6); -1 for a frame shorter than 7 bytes.
int mrk_frame_command(const uint8_t* frame, size_t length);
/// Checks an un-escaped reply: 0 when valid, else the flag word.
int32_t mrk_parse_frame(const uint8_t* frame, size_t length, mrk_frame_info* info);
/// Decodes an un-escaped STATUS reply of at least 13 bytes.
void mrk_decode_status(const uint8_t* frame, mrk_status* status, mrk_summary* summary);

}  // namespace quenbril
