#pragma once

// Sony DWX replies as a receiver sends them.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace quenbril::testing {

struct SonyChannel {
    std::string name;
    uint8_t battery = 0;
    uint8_t levelA = 0;
    uint8_t levelB = 0;
    bool present = true;
    /// The antenna indicator equals level A when A is in use.
    bool antennaA = true;
};

inline std::vector<uint8_t> sonySwitchReply() { return {0x01, 0x01, 0x00, 0x01, 11, 0, 0, 0}; }

inline std::vector<uint8_t> sonyStatusReply(const std::string& receiver, const SonyChannel& one,
                                            const SonyChannel& two) {
    std::vector<uint8_t> r(300, 0);
    r[0] = 0x01;
    r[4] = 16;
    auto put = [&](size_t at, const std::string& text) {
        std::copy_n(text.begin(), std::min<size_t>(text.size(), 16), r.begin() + at);
    };
    put(16, receiver);
    const SonyChannel* channels[2] = {&one, &two};
    for (size_t i = 0; i < 2; ++i) {
        const SonyChannel& c = *channels[i];
        const size_t base = i * 114;
        r[base + 64] = c.levelA;
        r[base + 65] = c.levelB;
        r[base + 63] = c.antennaA ? c.levelA : static_cast<uint8_t>(c.levelA + 1);
        r[base + 130] = c.battery;
        put(base + 145, c.name);
        r[base + 172] = c.present ? 1 : 0;
    }
    return r;
}

}  // namespace quenbril::testing
