#include "MonitorApp/dispatch/PerformerBatteryText.h"

#include <cstdio>

#include "foundation/Log.h"

namespace quenbril {

namespace {

template <class... Args>
std::string format(const char* fmt, Args... args) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

size_t characters(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

void applyCurves(PerformerBatteryText& out, const WirelessInfoEntry& info, bool logQuad) {
    out.quadversity = info.quadversity.value_or(false);
    if (*out.quadversity && logQuad) QLOG("QV");
    if (info.singleLine) out.singleLine = *info.singleLine;
}

}  // namespace

std::string PerformerBatteryText::frequencyText(const WirelessInfoEntry& info) {
    const float kHz = static_cast<float>(info.frequency.value_or(0.0));
    if (kHz > 0) return format("FREQ: %.3f MHz", static_cast<double>(kHz / 1000.0f));
    return " ";
}

PerformerBatteryText PerformerBatteryText::forBattery(int32_t battery,
                                                      const WirelessInfoEntry* info,
                                                      int32_t delayInSamples) {
    PerformerBatteryText out;
    if (!info) {
        if (delayInSamples <= 0 && battery >= 0) out.text = format("BAT: %d%%", battery);
        if (battery == -2) out.text = "No wireless device";
        if (battery == -1) out.text = "?";
        return out;
    }
    const std::string name = info->name.value_or("");
    const std::string freq = frequencyText(*info);
    applyCurves(out, *info, true);
    if (delayInSamples <= 0) {
        if (battery == -2) {
            out.text = "Receiver " + name + " can't be found  " + freq;
        } else if (battery == -1) {
            out.text = "Receiver " + name + " BAT: ? %  " + freq;
        } else {
            out.text = "Receiver " + name + " BAT: " + format("%d%%", battery) + "  " + freq;
        }
    }
    return out;
}

PerformerBatteryText PerformerBatteryText::forBatteryTime(const std::string& time,
                                                          const WirelessInfoEntry* info) {
    PerformerBatteryText out;
    const bool shown = characters(time) >= 2;
    if (!info) {
        if (shown) out.text = "BAT: " + time;
        return out;
    }
    applyCurves(out, *info, false);
    if (shown) {
        out.text =
            "Receiver " + info->name.value_or("") + " BAT: " + time + "  " + frequencyText(*info);
    }
    return out;
}

}  // namespace quenbril
