#pragma once

namespace quenbril {

/// Posted by the serial port manager, on the main thread, for every batch of ports that
/// appeared (also an empty one) and every batch that went.
inline constexpr const char* kSerialPortWasConnectedNotification =
    "SerialPortWasConnectedNotification";
inline constexpr const char* kSerialPortWasDisconnectedNotification =
    "SerialPortWasDisconnectedNotification";
/// The payload keys: arrays of the ports (SerialPortManager::portsIn reads them).
inline constexpr const char* kConnectedSerialPortsKey = "ConnectedSerialPortsKey";
inline constexpr const char* kDisconnectedSerialPortsKey = "DisconnectedSerialPortsKey";

}  // namespace quenbril
