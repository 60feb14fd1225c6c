#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "platform/serial/SerialDeviceSource.h"
#include "serialport/PropertyObservers.h"
#include "serialport/SerialPort.h"

namespace quenbril {

/// The serial ports present on the machine, kept up to date from its device sources (udev and
/// a watched folder of device links). Posts kSerialPortWasConnectedNotification and
/// kSerialPortWasDisconnectedNotification for every batch that comes or goes, and tells each
/// vanished port that it was removed. Main thread only.
///
/// Observable property (addObserver): "availablePorts".
class SerialPortManager {
  public:
    /// The application's manager, made on first use from udev and the link folder.
    static SerialPortManager& sharedSerialPortManager();
    /// The folder of device links the shared manager watches; set before its first use.
    /// The default is /dev/serial/by-id.
    static void setLinkFolder(std::string folder);

    /// A manager over `sources` (tests make their own); enumerates them and starts watching.
    explicit SerialPortManager(std::vector<std::unique_ptr<SerialDeviceSource>> sources);
    ~SerialPortManager();
    SerialPortManager(const SerialPortManager&) = delete;
    SerialPortManager& operator=(const SerialPortManager&) = delete;

    const std::vector<SerialPort::Ptr>& availablePorts() const { return availablePorts_; }
    size_t countOfAvailablePorts() const { return availablePorts_.size(); }
    SerialPort::Ptr objectInAvailablePortsAtIndex(size_t index) const;
    void insertObjectInAvailablePortsAtIndex(SerialPort::Ptr port, size_t index);
    void insertAvailablePorts(const std::vector<SerialPort::Ptr>& ports, size_t index);
    /// Removes the ports at `indexes` (as they stand before the call; indexes past the end
    /// are ignored) with one change told to the observers.
    void removeAvailablePortsAtIndexes(const std::vector<size_t>& indexes);
    void removeObjectFromAvailablePortsAtIndex(size_t index);

    /// Closes the open ports, remembering them for systemDidWake.
    void systemWillSleep();
    /// Reopens the ports systemWillSleep closed.
    void systemDidWake();

    int addObserver(PropertyObservers::Callback callback) { return observers_.add(callback); }
    void removeObserver(int id) { observers_.remove(id); }

    /// The ports a connected or disconnected notification carries under `key`.
    static std::vector<SerialPort::Ptr> portsIn(const Notification& notification, const char* key);

  private:
    void devicesAdded(const std::vector<SerialDevice>& devices);
    void devicesRemoved(const std::vector<std::string>& paths);
    bool isListed(const std::string& path) const;

    std::vector<std::unique_ptr<SerialDeviceSource>> sources_;
    std::vector<SerialPort::Ptr> availablePorts_;
    std::vector<SerialPort::Ptr> portsToReopenAfterSleep_;
    PropertyObservers observers_;
};

}  // namespace quenbril
