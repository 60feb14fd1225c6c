#include "platform/serial/LibudevTtyBackend.h"

#include <libudev.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quenbril {

struct LibudevTtyBackend::State {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
};

namespace {

TtyDeviceInfo describe(udev_device* device) {
    TtyDeviceInfo info;
    if (const char* name = udev_device_get_sysname(device)) info.sysname = name;
    if (const char* node = udev_device_get_devnode(device)) info.devnode = node;
    udev_device* parent = udev_device_get_parent(device);
    info.hasParent = parent != nullptr;
    const char* driver = udev_device_get_driver(device);
    if (!driver && parent) driver = udev_device_get_driver(parent);
    if (driver) info.driver = driver;
    // The serial core publishes the port type as an attribute, so no port is opened to ask.
    if (const char* type = udev_device_get_sysattr_value(device, "type")) {
        char* end = nullptr;
        long value = std::strtol(type, &end, 10);
        if (end != type) info.serialType = static_cast<int>(value);
    }
    return info;
}

}  // namespace

LibudevTtyBackend::LibudevTtyBackend() : state_(std::make_unique<State>()) {
    state_->context = udev_new();
}

LibudevTtyBackend::~LibudevTtyBackend() {
    stopMonitor();
    if (state_->context) udev_unref(state_->context);
}

std::vector<TtyDeviceInfo> LibudevTtyBackend::list() {
    std::vector<TtyDeviceInfo> found;
    if (!state_->context) return found;
    udev_enumerate* enumeration = udev_enumerate_new(state_->context);
    if (!enumeration) return found;
    udev_enumerate_add_match_subsystem(enumeration, "tty");
    if (udev_enumerate_scan_devices(enumeration) >= 0) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
            udev_device* device =
                udev_device_new_from_syspath(state_->context, udev_list_entry_get_name(entry));
            if (!device) continue;
            found.push_back(describe(device));
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(enumeration);
    return found;
}

int LibudevTtyBackend::startMonitor() {
    if (!state_->context) return -1;
    if (state_->monitor) return udev_monitor_get_fd(state_->monitor);
    // udevd announces itself under /run/udev; without it only the kernel's events exist.
    const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    udev_monitor* monitor = udev_monitor_new_from_netlink(state_->context, source);
    if (!monitor) return -1;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        return -1;
    }
    state_->monitor = monitor;
    return udev_monitor_get_fd(monitor);
}

std::optional<TtyDeviceEvent> LibudevTtyBackend::nextEvent() {
    if (!state_->monitor) return std::nullopt;
    udev_device* device = udev_monitor_receive_device(state_->monitor);
    if (!device) return std::nullopt;
    TtyDeviceEvent event;
    const char* action = udev_device_get_action(device);
    if (action && std::strcmp(action, "add") == 0) {
        event.action = TtyDeviceEvent::Action::Added;
    } else if (action && std::strcmp(action, "remove") == 0) {
        event.action = TtyDeviceEvent::Action::Removed;
    }
    event.device = describe(device);
    udev_device_unref(device);
    return event;
}

void LibudevTtyBackend::stopMonitor() {
    if (state_->monitor) udev_monitor_unref(state_->monitor);
    state_->monitor = nullptr;
}

}  // namespace quenbril
