#pragma once

// The Vozod networked receivers' line protocol: "<" ... ">" lines, their fields, and the two
// kinds of metering sample.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenbril {

class WirelessDevice;

namespace vozod {

constexpr uint16_t kPort = 2202;
/// A line longer than this is discarded: a receiver must not make the buffer grow without end.
constexpr size_t kMaxLine = 4096;

inline constexpr const char* kAskName = "< GET 0 CHAN_NAME >";
inline constexpr const char* kAskBattery = "< GET 0 BATT_BARS >";
inline constexpr const char* kAskTxBattery = "< GET 0 TX_BATT_BARS >";
/// The meter-rate command for one channel.
std::string meterRate(std::string_view channel);

/// Joins the lines of one connection across chunks: "<" starts a line afresh, ">" ends it.
class LineAssembler {
  public:
    /// Calls `line` with each line completed by the chunk, brackets included.
    void feed(std::string_view chunk, const std::function<void(const std::string&)>& line);
    const std::string& pending() const { return reply_; }

  private:
    std::string reply_;
    bool overflowed_ = false;
};

/// A line's fields: cut at every single blank.
std::vector<std::string> fields(std::string_view line);
/// The text between the first "{" and the first "}" after it; none without both.
std::optional<std::string> channelName(std::string_view line);
/// Battery percent from a bar count: 255 means none (-1).
int32_t batteryFromBars(int32_t bars);
/// The type-8 receivers' RF scale, capped at 100.
int32_t scaleRF(int32_t v);
/// A type-8 sample into the record; false (and no change) for a field count it does not know.
bool parseAD4D(const std::vector<std::string>& fields, WirelessDevice& device);
/// Another receiver's sample into the record at `now`; false (no change) under 7 fields.
bool parseAxientULXD(const std::vector<std::string>& fields, WirelessDevice& device, double now);

}  // namespace vozod
}  // namespace quenbril
