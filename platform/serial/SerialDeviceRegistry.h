#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/SerialDeviceSource.h"

namespace quenbril {

/// The process-wide registry that ports look their devices up in: the device sources in use,
/// asked in the order they were added. The manager adds its sources and removes them when it
/// goes; the registry never owns them.
class SerialDeviceRegistry {
  public:
    static SerialDeviceRegistry& shared();

    void add(SerialDeviceSource* source);
    void remove(SerialDeviceSource* source);
    /// The device whose callout or dial-in path is `path`; an empty path finds nothing.
    std::optional<SerialDevice> find(const std::string& path);

  private:
    std::mutex mutex_;
    std::vector<SerialDeviceSource*> sources_;
};

}  // namespace quenbril
