#include "MonitorApp/chat/UUIDString.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <random>

namespace quenbril {

std::string UUIDString::make() {
    static std::mutex mutex;
    static std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::array<uint8_t, 16> bytes{};
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = 0; i < bytes.size(); i += 8) {
            uint64_t r = generator();
            for (size_t k = 0; k < 8; ++k) bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
        }
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace quenbril
