#include "MonitorApp/serverrole/VozodHandler.h"

#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace rt = receivertext;

namespace {
bool isVozodType(uint64_t type) {
    return type == WirelessDevice::kVozodULXD || type == WirelessDevice::kVozodAxient ||
           type == WirelessDevice::kVozodAD4D;
}
}  // namespace

VozodHandler::VozodHandler(VozodServiceSearch::BrowserFactory makeBrowser)
    : search_(std::move(makeBrowser)) {
    askTimer_ = RunLoop::main().scheduleTimer(kAskInterval, true, [this] { askData(); });
}

VozodHandler::~VozodHandler() {
    for (auto& [raw, c] : connections_) {
        c.socket->synchronouslySetDelegate(nullptr);
        c.socket->disconnect();
    }
}

size_t VozodHandler::connectedCount() const {
    size_t n = 0;
    for (const auto& [raw, c] : connections_) n += c.connected ? 1 : 0;
    return n;
}

size_t VozodHandler::connectingCount() const { return connections_.size() - connectedCount(); }

void VozodHandler::write(DispatchSocket* sock, const std::string& text) {
    sock->writeData(Bytes(text.begin(), text.end()), -1, 0);
}

void VozodHandler::read(Connection& c) {
    if (c.reading) return;
    c.reading = true;
    c.socket->readDataWithTimeout(kReadTimeout, 0);
}

void VozodHandler::connectTo(WirelessManager& registry) {
    registry_ = &registry;
    for (const WirelessManager::ReceiverAddress& receiver : registry.deviceIPs()) {
        if (!isVozodType(receiver.type)) continue;
        bool taken = false;
        for (const auto& [raw, c] : connections_) taken = taken || c.host == receiver.address;
        QLOG("Searching for VOZOD ULX-D / Axient from %s", receiver.address.c_str());
        if (taken) continue;
        auto socket = DispatchSocket::make(this, dispatch::Queue::main());
        Error error;
        // A connect that fails at once leaves no socket behind.
        if (!socket->connectToHost(receiver.address, vozod::kPort, &error)) continue;
        connections_[socket.get()] = Connection{socket, receiver.address, {}, false, false};
    }
    for (auto& [raw, c] : connections_) {
        if (!c.connected) continue;
        write(raw, vozod::kAskName);
        read(c);
    }
}

void VozodHandler::askData() {
    for (auto& [raw, c] : connections_) {
        if (!c.connected) continue;
        write(raw, vozod::kAskBattery);
        write(raw, vozod::kAskTxBattery);
    }
}

void VozodHandler::socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                          uint16_t port) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    QLOG("Socket:DidConnectToHost: %s Port: %hu", host.c_str(), port);
    it->second.connected = true;
    write(sock, vozod::kAskName);
    read(it->second);
}

void VozodHandler::socketDidReadData(DispatchSocket* sock, const Bytes& data, long) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    Connection& c = it->second;
    c.reading = false;
    const std::string host = c.host;
    // Lines are handled after the chunk is walked: handling may not touch the buffer it reads.
    std::vector<std::string> lines;
    c.lines.feed(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                 [&](const std::string& line) { lines.push_back(line); });
    for (const std::string& line : lines) processLine(line, host, sock);
    const auto again = connections_.find(sock);
    if (again != connections_.end()) read(again->second);
}

void VozodHandler::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>&) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    // The map holds the last reference; the socket goes once this callback is over.
    std::shared_ptr<DispatchSocket> keep = std::move(it->second.socket);
    connections_.erase(it);
    RunLoop::postToMain([keep] {});
}

void VozodHandler::processLine(const std::string& line, const std::string& host,
                               DispatchSocket* sock) {
    if (!registry_) return;
    const std::vector<std::string> f = vozod::fields(line);
    if (f.size() < 5 || f[4].empty()) return;
    const double now = RunLoop::main().now();
    if (f[1] == "REP" && f[3] == "CHAN_NAME") {
        const std::optional<std::string> name = vozod::channelName(line);
        if (!name) return;
        WirelessDevice* record = nullptr;
        const auto known = registry_->devices().find(*name);
        if (known != registry_->devices().end()) {
            record = known->second.get();
        } else {
            auto made = std::make_shared<WirelessDevice>();
            made->setName(*name);
            made->setIp(host);
            made->setChannel(f[2]);
            uint64_t type = 0;
            for (const auto& r : registry_->deviceIPs()) {
                if (r.address == host) {
                    type = r.type;
                    break;
                }
            }
            made->setDeviceType(type);
            record = registry_->addDevice(std::move(made));
            if (!record) return;
            QLOG("Found new device %s", name->c_str());
        }
        if (sock) write(sock, vozod::meterRate(f[2]));
        record->setLastSeen(now);
    } else if (f[1] == "REP" && (f[3] == "BATT_BARS" || f[3] == "TX_BATT_BARS")) {
        if (WirelessDevice* r = registry_->deviceWith(host, f[2])) {
            r->setBattery(vozod::batteryFromBars(rt::intValue(f[4])));
            r->setLastSeen(now);
        }
    } else if (f[1] == "SAMPLE") {
        WirelessDevice* r = registry_->deviceWith(host, f[2]);
        if (!r) return;
        if (r->deviceType() == WirelessDevice::kVozodAD4D) {
            vozod::parseAD4D(f, *r);
        } else {
            vozod::parseAxientULXD(f, *r, now);
        }
    }
}

}  // namespace quenbril
