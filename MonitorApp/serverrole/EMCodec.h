#pragma once

// The Sennheiser EM receivers' datagrams: the four fixed requests and the replies.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril::em {

constexpr uint16_t kReceiverPort = 8137;
constexpr uint16_t kLocalPort = 8138;
constexpr size_t kNameReplySize = 334;
constexpr size_t kDataReplySize = 61;

Bytes askName0();
Bytes askData0();
Bytes askName1();
Bytes askData1();

/// One reply as the driver uses it.
struct Reply {
    enum class Kind { Name, Data, Ignored, Unknown };
    Kind kind = Kind::Unknown;
    /// "1" or "2" for names and data.
    std::string channel;
    std::string name;
    int32_t battery = -1;
    /// The larger antenna level divided by three.
    int32_t rf = 0;
    bool antennaA = false;
    /// The first two bytes, for the log of unknown kinds.
    uint8_t byte0 = 0, byte1 = 0;
};

/// None for a datagram too short for its kind (or under two bytes).
std::optional<Reply> decodeReply(const uint8_t* bytes, size_t length);

/// Battery percent from the reply's code: -1 when the receiver reports none.
int32_t batteryFromCode(uint8_t code);

}  // namespace quenbril::em
