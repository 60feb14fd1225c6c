#pragma once

// The Lectrosonics receivers' text protocol: "!word(arg)?\r" commands and "OK word(...)={...}"
// reply lines ended by "\n".

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenbril::lectrosonics {

constexpr uint16_t kPort = 4081;
/// A line longer than this is discarded with everything up to the next "\r".
constexpr size_t kMaxLine = 4096;
constexpr int kChannels = 6;

std::string askName(int channel);
inline constexpr const char* kAskRf = "!rxrmeter(*)?\r";
inline constexpr const char* kAskBatteryKind = "!txbatt(*)?\r";
inline constexpr const char* kAskBatteryLevel = "!txblevel(*)?\r";
std::string askStatus(std::string_view channel);
/// One channel's transmitter kind and battery level.
std::string askBatteryKind(std::string_view channel);
std::string askBatteryLevel(std::string_view channel);

/// Joins reply lines: "\r" empties the buffer, "\n" completes a line (and stays in it).
/// The buffer is kept after a line, so each line must follow a "\r".
class LineAssembler {
  public:
    void feed(std::string_view chunk, const std::function<void(const std::string&)>& line);

  private:
    std::string reply_;
    bool overflowed_ = false;
};

struct NameReply {
    std::string channel;
    std::string name;
};
/// A reply line's name report; none when too short for its fixed positions.
std::optional<NameReply> parseName(std::string_view line, std::string_view field1);

struct StatusReply {
    std::string channel;
    std::vector<std::string> items;
};
/// An rxstat report's channel and items; none when too short for its fixed positions.
std::optional<StatusReply> parseStatus(std::string_view field1);
/// The per-channel items of a txblevel, rxrmeter or txbatt report; none unless the field
/// splits at "=" into two parts long enough for the delimiters.
std::optional<std::vector<std::string>> parseList(std::string_view field1);

/// Battery percent of a level for a transmitter whose maximum voltage is 15 or 90.
int32_t batteryFromLevel(int32_t level, int32_t maxVoltage);
/// RF percent from a meter value: twice the value, capped at 100.
int32_t rfFromMeter(int32_t meter);

}  // namespace quenbril::lectrosonics
