#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "MonitorApp/link/LinkRecords.h"

namespace quenbril {

/// What the performer window shows for one battery reading of its strip: the status text and
/// the history renderer's curve settings, from the receiver behind the strip ("WirelessInfo")
/// when known. Empty fields leave the window as it is.
struct PerformerBatteryText {
    std::optional<std::string> text;
    std::optional<bool> quadversity;
    std::optional<bool> singleLine;

    /// A "BatteryData" value: a percentage, -1 unknown, -2 no device. `delayInSamples` above 0
    /// means a replay runs, which keeps the receiver texts.
    static PerformerBatteryText forBattery(int32_t battery, const WirelessInfoEntry* info,
                                           int32_t delayInSamples);
    /// A "BatteryTimeData" text (shown when it has 2 characters or more).
    static PerformerBatteryText forBatteryTime(const std::string& time,
                                               const WirelessInfoEntry* info);
    /// "FREQ: %.3f MHz" for a frequency in kHz above 0, else " ".
    static std::string frequencyText(const WirelessInfoEntry& info);
};

}  // namespace quenbril
