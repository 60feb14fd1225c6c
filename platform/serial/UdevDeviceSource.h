#pragma once

#include <memory>
#include <mutex>

#include "foundation/DescriptorWatch.h"
#include "platform/serial/SerialDeviceSource.h"
#include "platform/serial/TtyBackend.h"

namespace quenbril {

/// The serial ports the udev layer knows: tty devices that pass TtyDeviceInfo::isSerialPort,
/// with arrivals and removals from its monitor, read on the main run loop.
class UdevDeviceSource : public SerialDeviceSource {
  public:
    explicit UdevDeviceSource(std::unique_ptr<TtyBackend> backend);
    ~UdevDeviceSource() override;

    std::vector<SerialDevice> enumerate() override;
    std::optional<SerialDevice> find(const std::string& path) override;
    bool start(Handlers handlers) override;
    void stop() override;

  private:
    void drainEvents();

    std::mutex
        backendMutex_;  // libudev's context is not thread-safe; ports look up from any thread
    std::unique_ptr<TtyBackend> backend_;
    Handlers handlers_;
    DescriptorWatch watch_;
};

}  // namespace quenbril
