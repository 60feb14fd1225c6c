#pragma once

#include <optional>
#include <string>

namespace quenbril {

/// What the udev layer tells of one tty device, enough to decide whether it is a serial port.
struct TtyDeviceInfo {
    std::string sysname;  ///< "ttyUSB0"
    std::string devnode;  ///< "/dev/ttyUSB0"; empty when the device has none
    bool hasParent = false;
    std::string driver;  ///< the driver of the device or its parent ("serial8250", "ftdi_sio")
    std::optional<int> serialType;  ///< the serial core's port type; 0 is "unknown"

    /// True for a serial port: a tty with a parent device and a node, but no virtual console,
    /// no pseudo-terminal and no 8250 port whose type is unknown (an empty legacy slot).
    bool isSerialPort() const;
};

/// One arrival or removal reported by the udev monitor.
struct TtyDeviceEvent {
    enum class Action { Added, Removed, Other };
    Action action = Action::Other;
    TtyDeviceInfo device;
};

}  // namespace quenbril
