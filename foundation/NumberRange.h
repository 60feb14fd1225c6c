#pragma once

#include <cmath>
#include <optional>

#include "foundation/Value.h"

namespace quenbril {

/// The number `value` holds when it is finite and within [low, high]; nothing for any other
/// number, as for a value of the wrong kind. For numbers from the link or files that become
/// colours, sizes or times and are kept.
inline std::optional<double> numberInRange(const Value& value, double low, double high) {
    const std::optional<double> number = value.isNumber() ? value.doubleValue() : std::nullopt;
    if (!number || !std::isfinite(*number) || *number < low || *number > high) return std::nullopt;
    return number;
}

/// The widest time (seconds either side of 2001-01-01) a message or file may carry.
inline constexpr double kMaxAbsoluteTime = 1e11;

/// The time a date value holds (seconds since 2001-01-01) when it is finite and within
/// kMaxAbsoluteTime; nothing for any other value, which then reads as a missing date.
inline std::optional<double> dateInRange(const Value& value) {
    const std::optional<double> date = value.dateValue();
    if (!date || !std::isfinite(*date) || std::fabs(*date) > kMaxAbsoluteTime) return std::nullopt;
    return date;
}

}  // namespace quenbril
