#include "serialport/SerialPortManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <mutex>

#include "foundation/Log.h"
#include "platform/serial/LibudevTtyBackend.h"
#include "platform/serial/LinkFolderSource.h"
#include "platform/serial/SerialDeviceRegistry.h"
#include "platform/serial/UdevDeviceSource.h"
#include "serialport/SerialPortNotifications.h"

namespace quenbril {

namespace {

std::string& linkFolder() {
    static std::string folder = "/dev/serial/by-id";
    return folder;
}

Value portList(const std::vector<SerialPort::Ptr>& ports) {
    Array list;
    for (const SerialPort::Ptr& port : ports)
        list.emplace_back(std::shared_ptr<const Object>(port));
    return Value(std::move(list));
}

// At exit only the descriptors are restored and closed: delegates may already be gone, and the
// main thread may be the one exiting.
void registerExitHook() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::atexit(&SerialPort::restoreAllPortsAtExit) != 0) {
            QLOG(
                "SerialPort was unable to register its termination handler for serial port "
                "cleanup: %i",
                errno);
        }
    });
}

}  // namespace

SerialPortManager& SerialPortManager::sharedSerialPortManager() {
    static SerialPortManager* shared = [] {
        std::vector<std::unique_ptr<SerialDeviceSource>> sources;
        sources.push_back(
            std::make_unique<UdevDeviceSource>(std::make_unique<LibudevTtyBackend>()));
        sources.push_back(std::make_unique<LinkFolderSource>(linkFolder()));
        return new SerialPortManager(std::move(sources));
    }();
    return *shared;
}

void SerialPortManager::setLinkFolder(std::string folder) { linkFolder() = std::move(folder); }

SerialPortManager::SerialPortManager(std::vector<std::unique_ptr<SerialDeviceSource>> sources)
    : sources_(std::move(sources)) {
    for (auto& source : sources_) {
        SerialDeviceRegistry::shared().add(source.get());
        for (const SerialDevice& device : source->enumerate()) {
            if (isListed(device.calloutPath())) continue;
            availablePorts_.push_back(SerialPort::serialPortWithDevice(device));
        }
        source->start({[this](const auto& devices) { devicesAdded(devices); },
                       [this](const auto& paths) { devicesRemoved(paths); }});
    }
    registerExitHook();
}

SerialPortManager::~SerialPortManager() {
    for (auto& source : sources_) {
        source->stop();
        SerialDeviceRegistry::shared().remove(source.get());
    }
}

bool SerialPortManager::isListed(const std::string& path) const {
    return std::any_of(availablePorts_.begin(), availablePorts_.end(),
                       [&](const SerialPort::Ptr& port) { return port->path() == path; });
}

SerialPort::Ptr SerialPortManager::objectInAvailablePortsAtIndex(size_t index) const {
    return index < availablePorts_.size() ? availablePorts_[index] : nullptr;
}

void SerialPortManager::insertObjectInAvailablePortsAtIndex(SerialPort::Ptr port, size_t index) {
    insertAvailablePorts({std::move(port)}, index);
}

void SerialPortManager::insertAvailablePorts(const std::vector<SerialPort::Ptr>& ports,
                                             size_t index) {
    index = std::min(index, availablePorts_.size());
    availablePorts_.insert(availablePorts_.begin() + static_cast<ptrdiff_t>(index), ports.begin(),
                           ports.end());
    observers_.notify("availablePorts");
}

void SerialPortManager::removeAvailablePortsAtIndexes(const std::vector<size_t>& indexes) {
    std::vector<size_t> doomed;
    for (size_t index : indexes) {
        if (index < availablePorts_.size()) doomed.push_back(index);
    }
    if (doomed.empty()) return;
    // From the back, so that the indexes still to go keep their places.
    std::sort(doomed.begin(), doomed.end(), std::greater<>());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    for (size_t index : doomed) {
        availablePorts_.erase(availablePorts_.begin() + static_cast<ptrdiff_t>(index));
    }
    observers_.notify("availablePorts");
}

void SerialPortManager::removeObjectFromAvailablePortsAtIndex(size_t index) {
    removeAvailablePortsAtIndexes({index});
}

void SerialPortManager::devicesAdded(const std::vector<SerialDevice>& devices) {
    std::vector<SerialPort::Ptr> added;
    for (const SerialDevice& device : devices) {
        SerialPort::Ptr port = SerialPort::serialPortWithDevice(device);
        if (isListed(port->path()) || std::find(added.begin(), added.end(), port) != added.end()) {
            continue;
        }
        added.push_back(std::move(port));
    }
    if (!added.empty()) insertAvailablePorts(added, availablePorts_.size());
    NotificationCenter::defaultCenter().post(kSerialPortWasConnectedNotification,
                                             {{kConnectedSerialPortsKey, portList(added)}});
}

void SerialPortManager::devicesRemoved(const std::vector<std::string>& paths) {
    // A removed device is gone from the registry by now, so ports are found by path among the
    // listed and live ones; none is ever made for it.
    std::vector<SerialPort::Ptr> removed;
    for (const std::string& path : paths) {
        SerialPort::Ptr port;
        for (const SerialPort::Ptr& listed : availablePorts_) {
            if (listed->path() == path) port = listed;
        }
        if (!port) port = SerialPort::existingPortWithPath(path);
        if (port && std::find(removed.begin(), removed.end(), port) == removed.end()) {
            removed.push_back(std::move(port));
        }
    }
    for (const SerialPort::Ptr& port : removed) port->cleanupAfterSystemRemoval();
    std::vector<size_t> listed;
    for (size_t i = 0; i < availablePorts_.size(); ++i) {
        if (std::find(removed.begin(), removed.end(), availablePorts_[i]) != removed.end()) {
            listed.push_back(i);
        }
    }
    removeAvailablePortsAtIndexes(listed);
    NotificationCenter::defaultCenter().post(kSerialPortWasDisconnectedNotification,
                                             {{kDisconnectedSerialPortsKey, portList(removed)}});
}

void SerialPortManager::systemWillSleep() {
    for (const SerialPort::Ptr& port : availablePorts_) {
        if (port->isOpen() && port->close()) portsToReopenAfterSleep_.push_back(port);
    }
}

void SerialPortManager::systemDidWake() {
    auto ports = portsToReopenAfterSleep_;
    for (const SerialPort::Ptr& port : ports) {
        port->open();
        std::erase(portsToReopenAfterSleep_, port);
    }
}

std::vector<SerialPort::Ptr> SerialPortManager::portsIn(const Notification& notification,
                                                        const char* key) {
    std::vector<SerialPort::Ptr> ports;
    const Array* list = notification.userInfo[key].arrayValue();
    if (!list) return ports;
    for (const Value& value : *list) {
        const auto* object = value.objectValue();
        if (!object) continue;
        auto port = std::dynamic_pointer_cast<const SerialPort>(*object);
        if (port) ports.push_back(std::const_pointer_cast<SerialPort>(port));
    }
    return ports;
}

}  // namespace quenbril
