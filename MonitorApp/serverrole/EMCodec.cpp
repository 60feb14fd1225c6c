#include "MonitorApp/serverrole/EMCodec.h"

#include <initializer_list>
#include <utility>

#include "MonitorApp/serverrole/ReceiverText.h"

namespace quenbril::em {
namespace {

Bytes request(size_t length, std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    Bytes out(length, 0);
    for (const auto& [at, value] : bytes) out[at] = value;
    return out;
}

Bytes nameRequest(uint8_t first) {
    return request(364, {{0, first},
                         {1, 0x06},
                         {2, 0x12},
                         {3, 0x06},
                         {16, 0x54},
                         {17, 0xFD},
                         {18, 0xFE},
                         {19, 0xA9},
                         {346, 0x01}});
}

Bytes dataRequest(uint8_t b1, uint8_t b2, uint8_t b3) {
    return request(44, {{0, 0x01},
                        {1, b1},
                        {2, b2},
                        {3, b3},
                        {4, 0x2C},
                        {31, 0x50},
                        {33, 0x10},
                        {34, 0x27},
                        {35, 0x01},
                        {42, 0x01},
                        {43, 0x01}});
}

constexpr size_t kNameAt = 328;
constexpr size_t kNameLength = 6;

}  // namespace

Bytes askName0() { return nameRequest(0x06); }
Bytes askData0() { return dataRequest(0x07, 0x01, 0x07); }
Bytes askName1() { return nameRequest(0x01); }
Bytes askData1() { return dataRequest(0x10, 0x12, 0x06); }

int32_t batteryFromCode(uint8_t code) {
    if (code == 0) return -1;
    if (code <= 3) return code * 50 - 50;
    return code * 20 - 80;
}

std::optional<Reply> decodeReply(const uint8_t* bytes, size_t length) {
    if (!bytes || length < 2) return std::nullopt;
    Reply r;
    r.byte0 = bytes[0];
    r.byte1 = bytes[1];
    const unsigned kind = unsigned(bytes[0]) << 8 | bytes[1];
    switch (kind) {
        case 0x0206:
        case 0x0706: {
            if (length < kNameReplySize) return std::nullopt;
            r.kind = Reply::Kind::Name;
            r.channel = kind == 0x0206 ? "1" : "2";
            // Receivers pad with "?" where we show a blank.
            for (size_t i = 0; i < kNameLength && bytes[kNameAt + i] != 0; ++i) {
                const char c = static_cast<char>(bytes[kNameAt + i]);
                r.name.push_back(c == '?' ? ' ' : c);
            }
            // Names travel on as text: bytes that are not UTF-8 each become a replacement sign.
            if (!receivertext::isValidUTF8(r.name)) {
                std::string text;
                for (const char c : r.name) {
                    if (static_cast<unsigned char>(c) < 0x80) {
                        text.push_back(c);
                    } else {
                        text += "\xEF\xBF\xBD";
                    }
                }
                r.name = std::move(text);
            }
            return r;
        }
        case 0x0506:
        case 0x1006: {
            if (length < kDataReplySize) return std::nullopt;
            r.kind = Reply::Kind::Data;
            r.channel = kind == 0x0506 ? "1" : "2";
            const int a = bytes[56] | bytes[57] << 8;
            const int b = bytes[58] | bytes[59] << 8;
            r.antennaA = a > b;
            r.rf = (a > b ? a : b) / 3;
            r.battery = batteryFromCode(bytes[55]);
            return r;
        }
        case 0x0906:
            r.kind = Reply::Kind::Ignored;
            return r;
        default:
            r.kind = Reply::Kind::Unknown;
            return r;
    }
}

}  // namespace quenbril::em
