#pragma once

#include <optional>
#include <string>

namespace quenbril {

/// A date (seconds since 2001-01-01) as the current locale's medium time style writes it:
/// hours, minutes and seconds, no date and no zone, in local time. Empty for no date.
std::string mediumTimeText(const std::optional<double>& date);

}  // namespace quenbril
