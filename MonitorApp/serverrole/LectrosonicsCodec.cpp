#include "MonitorApp/serverrole/LectrosonicsCodec.h"

#include <algorithm>

#include "MonitorApp/serverrole/ReceiverText.h"

namespace quenbril::lectrosonics {

namespace rt = receivertext;

namespace {
// "OK " and the ten characters from the word to "=", then the opening delimiter.
constexpr size_t kNameStart = 14;
constexpr size_t kChannelAt = 7;
constexpr size_t kStatusItemsAt = 11;

std::vector<std::string> splitItems(std::string_view list) {
    std::vector<std::string> out;
    for (std::string_view item : rt::split(list, ',')) out.emplace_back(item);
    return out;
}
}  // namespace

std::string askName(int channel) { return "!rxname(" + std::to_string(channel) + ")?\r"; }

std::string askStatus(std::string_view channel) {
    return "!rxstat(" + std::string(channel) + ")?\r";
}

std::string askBatteryKind(std::string_view channel) {
    return "!txbatt(" + std::string(channel) + ")?\r";
}

std::string askBatteryLevel(std::string_view channel) {
    return "!txblevel(" + std::string(channel) + ")?\r";
}

void LineAssembler::feed(std::string_view chunk,
                         const std::function<void(const std::string&)>& line) {
    for (const char c : chunk) {
        if (c == '\r') {
            reply_.clear();
            overflowed_ = false;
            continue;
        }
        if (overflowed_) continue;
        if (reply_.size() >= kMaxLine) {
            reply_.clear();
            overflowed_ = true;
            continue;
        }
        reply_.push_back(c);
        if (c == '\n') line(reply_);
    }
}

std::optional<NameReply> parseName(std::string_view line, std::string_view field1) {
    if (field1.size() <= kChannelAt || line.size() < kNameStart + 2) return std::nullopt;
    return NameReply{std::string(1, field1[kChannelAt]),
                     std::string(line.substr(kNameStart, line.size() - kNameStart - 2))};
}

std::optional<StatusReply> parseStatus(std::string_view field1) {
    if (field1.size() < kStatusItemsAt + 2) return std::nullopt;
    return StatusReply{
        std::string(1, field1[kChannelAt]),
        splitItems(field1.substr(kStatusItemsAt, field1.size() - kStatusItemsAt - 2))};
}

std::optional<std::vector<std::string>> parseList(std::string_view field1) {
    const auto parts = rt::split(field1, '=');
    if (parts.size() != 2 || parts[1].size() < 3) return std::nullopt;
    return splitItems(parts[1].substr(1, parts[1].size() - 3));
}

int32_t batteryFromLevel(int32_t level, int32_t maxVoltage) {
    const double base = maxVoltage == 90 ? 52.0 : 9.0;
    const double span = maxVoltage == 90 ? 41.0 : 6.0;
    if (level < base) return 0;
    return static_cast<int32_t>(std::min((level - base) * 100.0 / span, 2147483647.0));
}

int32_t rfFromMeter(int32_t meter) {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{meter} * 2, 100));
}

}  // namespace quenbril::lectrosonics
