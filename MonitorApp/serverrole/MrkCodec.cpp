#include "MonitorApp/serverrole/MrkCodec.h"

#include <cstdio>
#include <cstring>

namespace quenbril {
namespace {

// Shared by every connection; the main thread builds all frames.
uint8_t g_sequence = 0;

constexpr size_t kHeader = 7;

uint8_t checksum(const uint8_t* frame, size_t payload) {
    uint8_t x = 0;
    const size_t count = (payload + 6) % 256;
    for (size_t i = 1; i <= count; ++i) x ^= frame[i];
    return x;
}

// The payload length a reply of each known command carries; -1 for unknown commands.
int expectedLength(uint8_t command) {
    switch (command) {
        case MRK_OPEN:
            return 1;
        case 0x01:
            return 0;
        case MRK_SERIAL:
            return 10;
        case MRK_STATUS:
            return 6;
        case MRK_NETBUILD:
            return 4;
        case MRK_NAME:
            return 12;
        default:
            return -1;
    }
}

}  // namespace

void mrk_set_sequence(uint8_t sequence) { g_sequence = sequence; }

int mrk_build_command(uint8_t command, uint8_t destination, uint8_t* out, size_t size) {
    const bool netbuild = command == MRK_NETBUILD;
    const size_t n = netbuild ? 3 : 0;
    if (!out || size < n + 9) return -1;
    out[0] = MRK_START;
    out[1] = 0x00;
    out[2] = destination;
    out[3] = g_sequence++;
    out[4] = static_cast<uint8_t>(n);
    out[5] = 0x00;
    out[6] = command;
    if (netbuild) {
        out[7] = 0x04;
        out[8] = 0x01;
        out[9] = 0xFE;
    }
    out[kHeader + n] = checksum(out, n);
    out[kHeader + n + 1] = MRK_END;
    return static_cast<int>(n + 9);
}

size_t mrk_escape(const uint8_t* in, uint8_t* out, size_t length) {
    size_t o = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = in[i];
        const bool escape =
            b == MRK_ESCAPE || (b == MRK_START && i != 0) || (b == MRK_END && i + 1 != length);
        if (escape) {
            out[o++] = MRK_ESCAPE;
            out[o++] = b ^ 0x20;
        } else {
            out[o++] = b;
        }
    }
    return o;
}

int mrk_unescape(const uint8_t* in, uint8_t* out, size_t length) {
    size_t o = 0;
    for (size_t i = 0; i < length; ++i) {
        if (in[i] != MRK_ESCAPE) {
            out[o++] = in[i];
            continue;
        }
        // An escape with nothing after it spoils the frame.
        if (i + 1 == length) return -1;
        out[o++] = in[++i] ^ 0x20;
    }
    return static_cast<int>(o);
}

int mrk_frame_command(const uint8_t* frame, size_t length) {
    return frame && length >= kHeader ? frame[6] : -1;
}

int32_t mrk_parse_frame(const uint8_t* frame, size_t length, mrk_frame_info* info) {
    if (info) {
        std::memset(info->name, 0, sizeof info->name);
        info->source = 0;
    }
    if (!frame || length < kHeader) return MRK_BAD_LENGTH;
    const size_t n = frame[4];
    if (info) info->source = frame[1];
    // Nothing past the frame's end is read.
    if (length < n + 9) return MRK_BAD_LENGTH;
    int32_t flags = 0;
    if (frame[0] != MRK_START) flags |= 0x80;
    if (frame[1] == 0) flags |= 0x100;
    if (frame[2] != 0) flags |= 0x200;
    flags |= frame[5] & 0x3F;
    if ((frame[5] & 0xC0) != 0x40) flags |= 0x400;
    const uint8_t command = frame[6];
    const int expected = expectedLength(command);
    if (expected < 0) {
        flags |= 0x800;
    } else if (static_cast<size_t>(expected) != n) {
        flags |= MRK_BAD_LENGTH;
    } else {
        const uint8_t* p = frame + kHeader;
        if (command == MRK_OPEN && p[0] != 0) flags |= 0x2000;
        if (command == MRK_NETBUILD) {
            if (p[0] != 4) flags |= 0x4000;
            if ((p[3] & 7) != 1) flags |= 0x20000;
        }
        if (command == MRK_SERIAL) std::printf("SERIAL:%.10s\n", reinterpret_cast<const char*>(p));
        if (command == MRK_NAME) {
            std::printf("NAME:%.12s\n", reinterpret_cast<const char*>(p));
            if (info) std::memcpy(info->name, p, 12);
        }
    }
    if (frame[kHeader + n] != checksum(frame, n)) flags |= 0x10000;
    if (frame[kHeader + n + 1] != MRK_END) flags |= 0x8000;
    return flags;
}

void mrk_decode_status(const uint8_t* f, mrk_status* s, mrk_summary* sum) {
    mrk_status st{};
    st.flag7bit2 = (f[7] >> 2) & 1;
    st.flag7bit3 = (f[7] >> 3) & 1;
    st.flag7bit4 = (f[7] >> 4) & 1;
    st.rfA = f[8];
    st.rfB = f[9];
    st.byte10 = f[10];
    for (int i = 0; i < 8; ++i) st.antennaFlags[i] = (f[11] >> i) & 1;
    for (int i = 0; i < 3; ++i) st.batteryFlags[i] = (f[12] >> i) & 1;
    st.batteryBars = (f[12] >> 4) & 7;
    if (s) *s = st;
    if (!sum) return;
    const bool valid = st.batteryFlags[0] && st.batteryFlags[1];
    sum->battery = !valid ? -1 : st.batteryBars == 0 ? 0 : (st.batteryBars + 1) * 25 / 2;
    sum->rfAPercent = st.rfA * 100 / 255;
    sum->rfBPercent = st.rfB * 100 / 255;
    sum->antennaA = st.antennaFlags[0];
    sum->antennaB = st.antennaFlags[1];
}

}  // namespace quenbril
