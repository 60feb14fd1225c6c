#include "platform/serial/UdevDeviceSource.h"

#include "foundation/RunLoop.h"

namespace quenbril {

UdevDeviceSource::UdevDeviceSource(std::unique_ptr<TtyBackend> backend)
    : backend_(std::move(backend)) {}

UdevDeviceSource::~UdevDeviceSource() { stop(); }

std::vector<SerialDevice> UdevDeviceSource::enumerate() {
    std::vector<SerialDevice> devices;
    std::lock_guard lock(backendMutex_);
    for (const TtyDeviceInfo& info : backend_->list()) {
        if (info.isSerialPort()) devices.push_back({info.devnode, info.sysname});
    }
    return devices;
}

std::optional<SerialDevice> UdevDeviceSource::find(const std::string& path) {
    for (SerialDevice& device : enumerate()) {
        if (device.path == path) return std::move(device);
    }
    return std::nullopt;
}

bool UdevDeviceSource::start(Handlers handlers) {
    stop();
    int fd = -1;
    {
        std::lock_guard lock(backendMutex_);
        fd = backend_->startMonitor();
    }
    if (fd < 0) return false;
    handlers_ = std::move(handlers);
    watch_ = RunLoop::main().watchDescriptor(fd, RunLoop::Condition::Readable,
                                             [this] { drainEvents(); });
    return true;
}

void UdevDeviceSource::stop() {
    watch_.cancel();
    std::lock_guard lock(backendMutex_);
    backend_->stopMonitor();
}

void UdevDeviceSource::drainEvents() {
    // Everything waiting is one batch, as the registry hands over one iterator per change.
    std::vector<SerialDevice> added;
    std::vector<std::string> removed;
    {
        std::lock_guard lock(backendMutex_);
        while (auto event = backend_->nextEvent()) {
            const TtyDeviceInfo& info = event->device;
            if (event->action == TtyDeviceEvent::Action::Added && info.isSerialPort()) {
                added.push_back({info.devnode, info.sysname});
            } else if (event->action == TtyDeviceEvent::Action::Removed && !info.devnode.empty()) {
                removed.push_back(info.devnode);
            }
        }
    }
    if (!added.empty() && handlers_.added) handlers_.added(added);
    if (!removed.empty() && handlers_.removed) handlers_.removed(removed);
}

}  // namespace quenbril
