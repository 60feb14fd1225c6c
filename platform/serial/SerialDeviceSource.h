#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/SerialDevice.h"

namespace quenbril {

/// A source of serial devices: it lists the devices present and reports, on the main run loop,
/// the ones that arrive and the ones that go. A removal names the device by its path only: the
/// device is gone by then, so nothing more can be learnt about it.
class SerialDeviceSource {
  public:
    struct Handlers {
        std::function<void(const std::vector<SerialDevice>&)> added;
        std::function<void(const std::vector<std::string>& paths)> removed;
    };

    virtual ~SerialDeviceSource() = default;

    /// The devices present now, in the source's order.
    virtual std::vector<SerialDevice> enumerate() = 0;
    /// The present device whose callout or dial-in path is `path`.
    virtual std::optional<SerialDevice> find(const std::string& path) = 0;
    /// Starts reporting changes on the main run loop; call on the main thread. False when the
    /// source cannot watch (it still enumerates).
    virtual bool start(Handlers handlers) = 0;
    /// Stops reporting; call on the main thread.
    virtual void stop() = 0;
};

}  // namespace quenbril
