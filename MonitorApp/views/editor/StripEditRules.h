#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "MonitorApp/channelstrips/ChannelStripManager.h"

namespace quenbril {

/// What the strip editor keeps of typed text, and the panel limit it checks when it closes.
class StripEditRules {
  public:
    /// Characters of a strip name.
    static constexpr qsizetype kNameLength = 10;
    static constexpr int32_t kMinPan = -100;
    static constexpr int32_t kMaxPan = 100;
    static constexpr int32_t kMinGain = -18;
    static constexpr int32_t kMaxGain = 12;
    /// Strips panel A holds, and the other panels together.
    static constexpr int32_t kMaxStripsPerPanel = 64;

    /// The first 10 characters of `text`; a character is never split.
    static std::string name(const QString& text);
    /// The number `text` holds (surrounding spaces allowed, a fraction cut toward zero) kept
    /// within `low` to `high`; `old` when the text is not a number.
    static int32_t clamped(const QString& text, int32_t low, int32_t high, int32_t old);
    /// Whether panel A holds at most 64 strips and the other panels together at most 64.
    static bool panelsFit(const ChannelStripManager::Controllers& controllers);
};

}  // namespace quenbril
