#pragma once

#include <memory>

#include "platform/serial/TtyBackend.h"

namespace quenbril {

/// The tty backend on libudev: enumeration of the "tty" subsystem and a netlink monitor, from
/// udevd where it runs and from the kernel's own events where it does not.
class LibudevTtyBackend : public TtyBackend {
  public:
    LibudevTtyBackend();
    ~LibudevTtyBackend() override;

    std::vector<TtyDeviceInfo> list() override;
    int startMonitor() override;
    std::optional<TtyDeviceEvent> nextEvent() override;
    void stopMonitor() override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quenbril
