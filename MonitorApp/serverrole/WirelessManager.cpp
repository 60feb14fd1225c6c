#include "MonitorApp/serverrole/WirelessManager.h"

#include <algorithm>
#include <cctype>

#include "MonitorApp/serverrole/ReceiverText.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace rt = receivertext;

namespace {
WirelessManager* installedRegistry = nullptr;

std::string lowered(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

/// "Name" replies name the channel after the word: every "Name " goes.
std::string channelName(std::string_view cleaned) {
    std::string name;
    static constexpr std::string_view kWord = "Name ";
    for (size_t i = 0; i < cleaned.size();) {
        if (cleaned.substr(i, kWord.size()) == kWord) {
            i += kWord.size();
        } else {
            name += cleaned[i++];
        }
    }
    return name;
}
}  // namespace

WirelessManager* WirelessManager::sharedInstance() { return installedRegistry; }

void WirelessManager::setSharedInstance(WirelessManager* registry) { installedRegistry = registry; }

WirelessManager::WirelessManager() = default;

WirelessManager::WirelessManager(Services services) : services_(std::move(services)) {
    if (services_.defaults) {
        deviceIPs_ = readReceiverList(services_.defaults->objectForKey(kReceiverListKey));
    }
    if (services_.interfaces) {
        if (auto list = services_.interfaces()) interfaces_ = std::move(*list);
    }
    openSockets();
}

WirelessManager::~WirelessManager() {
    if (installedRegistry == this) installedRegistry = nullptr;
    // Records keep plain pointers to the sockets: they go first.
    devices_.clear();
}

std::vector<WirelessManager::ReceiverAddress> WirelessManager::readReceiverList(const Value& list) {
    std::vector<ReceiverAddress> receivers;
    if (list.isNull()) return receivers;
    const Array* entries = list.arrayValue();
    if (!entries) {
        QLOG("The receiver list is not a list; no receivers are polled");
        return receivers;
    }
    for (size_t i = 0; i < entries->size(); ++i) {
        const Array* pair = (*entries)[i].arrayValue();
        const std::string* address = pair && pair->size() == 2 ? (*pair)[0].stringValue() : nullptr;
        const Value* type = pair && pair->size() == 2 ? &(*pair)[1] : nullptr;
        if (!address || !type || !type->isInteger() || *type->longLongValue() < 0 ||
            *type->longLongValue() > 9) {
            QLOG("Skipped receiver entry %zu: not an address and a type 0-9", i);
            continue;
        }
        receivers.push_back({*address, static_cast<uint64_t>(*type->longLongValue())});
    }
    return receivers;
}

void WirelessManager::openSockets() {
    if (!services_.udp) return;
    for (const NetworkInterface& i : interfaces_) {
        if (i.address == "127.0.0.1") continue;
        const std::string key = i.address + ":" + std::to_string(kG3Port);
        if (sockets_.count(key)) continue;
        auto socket = services_.udp(this);
        if (!socket) return;
        Error error;
        // Bound to the address itself, not the interface's name: an interface with two
        // addresses gets two sockets, each sending from its own address.
        if (!socket->bindToPort(kG3Port, i.address, &error)) {
            QLOG("Error binding to %s: %s", key.c_str(), error.description.c_str());
            continue;
        }
        if (!socket->beginReceiving(&error)) {
            QLOG("Error receiving: %s", error.description.c_str());
            continue;
        }
        if (!socket->enableBroadcast(true, &error) ||
            !socket->setMulticastInterface(i.address, &error)) {
            QLOG("Error enabling broadcast on %s: %s", key.c_str(), error.description.c_str());
            continue;
        }
        sockets_.emplace(key, std::move(socket));
    }
}

double WirelessManager::now() const { return RunLoop::main().now(); }

const WirelessDevice* WirelessManager::device(const std::string& name) const {
    const auto it = devices_.find(name);
    return it == devices_.end() ? nullptr : it->second.get();
}

WirelessDevice* WirelessManager::addDevice(std::shared_ptr<WirelessDevice> device) {
    if (!device || device->name().empty() || devices_.count(device->name())) return nullptr;
    if (devices_.size() >= kMaxDevices) {
        QLOG("Receiver %s not kept: %zu records already", device->name().c_str(), kMaxDevices);
        return nullptr;
    }
    WirelessDevice* raw = device.get();
    devices_.emplace(device->name(), std::move(device));
    return raw;
}

void WirelessManager::startDiscovery() {
    if (discoverTimer_.isValid()) return;
    doDiscovery();
    discoverTimer_ =
        RunLoop::main().scheduleTimer(kDiscoveryInterval, true, [this] { doDiscovery(); });
}

void WirelessManager::doDiscovery() {
    QLOG("Discover");
    const double t = now();
    std::vector<std::string> silent;
    for (const auto& [name, record] : devices_) {
        record->keepAlive();
        if (t - record->lastSeen() > kSilenceLimit &&
            record->deviceType() != WirelessDevice::kKeptAlways) {
            silent.push_back(name);
        }
    }
    for (const std::string& name : silent) {
        QLOG("Removed %s - timeout", name.c_str());
        devices_.erase(name);
        // The trimmed name goes too, but only when that record is itself silent: a live "Lav1"
        // must outlast a silent "Lav1 ".
        const std::string trimmed(rt::trim(name));
        const auto it = devices_.find(trimmed);
        if (it != devices_.end() && t - it->second->lastSeen() > kSilenceLimit &&
            it->second->deviceType() != WirelessDevice::kKeptAlways) {
            devices_.erase(it);
        }
    }
    sendUDPData(kMulticastHost, kG3Port, "Name\r");
    for (const ReceiverAddress& receiver : deviceIPs_) {
        if (receiver.type != WirelessDevice::kG3) continue;
        QLOG("Searching sennheiser G3 from %s", receiver.address.c_str());
        sendUDPData(receiver.address, kG3Port, "Name\r");
    }
    Drivers& d = services_.drivers;
    if (d.vozod) d.vozod->connectTo(*this);
    if (d.uhfr) d.uhfr->connectTo(*this);
    if (d.em) d.em->connectTo(*this);
    if (d.wisycom) d.wisycom->connectTo(*this);
    if (d.sony) d.sony->updateDevices(*this);
    if (d.lectrosonics) d.lectrosonics->connectTo(*this);
}

void WirelessManager::sendUDPData(const std::string& host, uint16_t port,
                                  const std::string& message) {
    const bool multicast = host == kMulticastHost;
    for (const auto& [key, socket] : sockets_) {
        const size_t colon = key.rfind(':');
        const std::string local = key.substr(0, colon);
        if (rt::intValue(std::string_view(key).substr(colon + 1)) != port) continue;
        const bool sameNetwork = rt::samePrefix(local, host, 7);
        if (!multicast && !sameNetwork) continue;
        socket->sendData(Bytes(message.begin(), message.end()), host, port, -1, runningTag_);
        ++runningTag_;
    }
}

std::vector<std::string> WirelessManager::sortedDeviceNames() const {
    std::vector<std::string> names;
    for (const auto& entry : devices_) names.push_back(entry.first);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return lowered(a) < lowered(b);
    });
    return names;
}

std::vector<std::string> WirelessManager::deviceNames() {
    return installedRegistry ? installedRegistry->sortedDeviceNames() : std::vector<std::string>{};
}

WirelessDevice* WirelessManager::deviceWith(const std::string& ip,
                                            const std::string& channel) const {
    WirelessDevice* found = nullptr;
    for (const auto& entry : devices_) {
        if (entry.second->ip() == ip && entry.second->channel() == channel)
            found = entry.second.get();
    }
    return found;
}

WirelessDevice* WirelessManager::getDevice(const std::string& ip, const std::string& channel) {
    return installedRegistry ? installedRegistry->deviceWith(ip, channel) : nullptr;
}

bool WirelessManager::hasDeviceAt(const std::string& ip) const {
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const auto& entry) { return entry.second->ip() == ip; });
}

bool WirelessManager::isIPTaken(const std::string& ip) {
    return installedRegistry && installedRegistry->hasDeviceAt(ip);
}

void WirelessManager::udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                                            const std::string& host) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    // Text that is not UTF-8 names nothing.
    if (!rt::isValidUTF8(text)) return;
    std::string cleaned;
    for (char c : text) {
        if (c != '\r') cleaned += c;
    }
    const std::string_view trimmed = rt::trim(cleaned);
    const auto parts = rt::split(trimmed, ' ');
    if (parts.size() < 2) return;
    if (parts[0] == "Name") {
        const std::string name = channelName(trimmed);
        auto it = devices_.find(name);
        if (it == devices_.end()) {
            auto record = std::make_shared<WirelessDevice>();
            record->setName(name);
            record->setIp(host);
            record->setSocket(endpoint);
            record->setDeviceType(WirelessDevice::kG3);
            if (!addDevice(record)) return;
            QLOG("Found new device %s", name.c_str());
            record->setLastSeen(now());
            return;
        }
        // A known name keeps its first address and socket.
        it->second->setLastSeen(now());
    } else if (parts[0] == "RF1") {
        for (const auto& entry : devices_) {
            if (entry.second->ip() == host) {
                entry.second->parseResponse(text, now());
                return;
            }
        }
    }
}

void WirelessManager::udpEndpointDidNotSend(UdpEndpoint*, long, const Error&) { QLOG("not sent"); }

void WirelessManager::udpEndpointDidConnect(UdpEndpoint*) { QLOG("did connect"); }

}  // namespace quenbril
