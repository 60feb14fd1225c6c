#pragma once

#include "MonitorApp/dispatch/ShortTimeClock.h"

namespace quenbril {

/// The system's clock and locale: the current time in the locale's short time style.
class QtShortTimeClock : public ShortTimeClock {
  public:
    /// The one the application uses.
    static const QtShortTimeClock& system();

    std::string shortTimeNow() const override;
};

}  // namespace quenbril
