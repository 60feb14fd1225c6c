#pragma once

#include <string>

namespace quenbril {

/// The time stamp the chat puts before an arriving message: the current time of day in the
/// user's locale's short time style, without a date. The application reads the system's clock
/// and locale; tests pin both.
class ShortTimeClock {
  public:
    virtual ~ShortTimeClock() = default;
    virtual std::string shortTimeNow() const = 0;
};

}  // namespace quenbril
