#pragma once

#include <optional>
#include <vector>

#include "platform/serial/TtyDeviceInfo.h"

namespace quenbril {

/// The udev calls the tty device source needs: listing, and a monitor whose descriptor becomes
/// readable when events wait. libudev in the application; a fake in tests, since no udevd runs
/// on the test machines and pseudo-terminals make no uevents.
class TtyBackend {
  public:
    virtual ~TtyBackend() = default;
    virtual std::vector<TtyDeviceInfo> list() = 0;
    /// Starts the monitor; its descriptor, or -1 when it cannot be made.
    virtual int startMonitor() = 0;
    /// The next waiting event, without blocking; nothing when none waits.
    virtual std::optional<TtyDeviceEvent> nextEvent() = 0;
    virtual void stopMonitor() = 0;
};

}  // namespace quenbril
