#include "serialport/RandomUuid.h"

#include <cstdio>
#include <random>

namespace quenbril {

std::string randomUuidString() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    uint64_t high = generator();
    uint64_t low = generator();
    high = (high & ~0xF000ULL) | 0x4000ULL;            // version 4
    low = (low & ~(0xC0ULL << 56)) | (0x80ULL << 56);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

}  // namespace quenbril
