#include "MonitorApp/serverrole/LectrosonicsHandler.h"

#include <algorithm>
#include <set>

#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace lx = lectrosonics;
namespace rt = receivertext;

LectrosonicsHandler::LectrosonicsHandler() {
    RunLoop& loop = RunLoop::main();
    batTimer_ = loop.scheduleTimer(kBatteryInterval, true, [this] { askBatteryData(); });
    rfTimer_ = loop.scheduleTimer(kRfInterval, true, [this] { askRf(); });
    qTimer_ = loop.scheduleTimer(kSendInterval, true, [this] { askNextCommand(); });
}

LectrosonicsHandler::~LectrosonicsHandler() {
    for (auto& [raw, c] : connections_) {
        c.socket->synchronouslySetDelegate(nullptr);
        c.socket->disconnect();
    }
}

size_t LectrosonicsHandler::connectedCount() const {
    size_t n = 0;
    for (const auto& [raw, c] : connections_) n += c.connected ? 1 : 0;
    return n;
}

void LectrosonicsHandler::connectTo(WirelessManager& registry) {
    registry_ = &registry;
    for (const WirelessManager::ReceiverAddress& receiver : registry.deviceIPs()) {
        if (receiver.type != WirelessDevice::kLectrosonics) continue;
        QLOG("Searching for Lectrosonics Venue 2 %s", receiver.address.c_str());
        bool taken = false;
        for (const auto& [raw, c] : connections_) taken = taken || c.host == receiver.address;
        if (taken) continue;
        auto socket = DispatchSocket::make(this, dispatch::Queue::main());
        Error error;
        if (!socket->connectToHost(receiver.address, lx::kPort, &error)) continue;
        Connection c;
        c.socket = socket;
        c.host = receiver.address;
        connections_[socket.get()] = std::move(c);
    }
}

void LectrosonicsHandler::write(Connection& c, const std::string& text, double timeout) {
    c.socket->writeData(Bytes(text.begin(), text.end()), -1, 0);
    // One read at a time: every request asking for another would pile reads up without end.
    if (c.reading) return;
    c.reading = true;
    c.socket->readDataWithTimeout(timeout, 0);
}

void LectrosonicsHandler::socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                                 uint16_t port) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    QLOG("Socket:DidConnectToHost: %s Port: %hu", host.c_str(), port);
    it->second.connected = true;
    it->second.nextName = 1;
    askNextDeviceName(sock);
}

void LectrosonicsHandler::askNextDeviceName(DispatchSocket* sock) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    Connection& c = it->second;
    if (c.nextName > lx::kChannels) return;
    write(c, lx::askName(c.nextName), kCommandTimeout);
    QLOG("Asking name from %d", c.nextName);
    ++c.nextName;
}

void LectrosonicsHandler::socketDidReadData(DispatchSocket* sock, const Bytes& data, long) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    it->second.reading = false;
    const std::string host = it->second.host;
    std::vector<std::string> lines;
    it->second.lines.feed(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                          [&](const std::string& line) { lines.push_back(line); });
    for (const std::string& line : lines) processLine(line, host, sock);
    const auto again = connections_.find(sock);
    if (again == connections_.end() || again->second.reading) return;
    again->second.reading = true;
    sock->readDataWithTimeout(kChunkTimeout, 0);
}

void LectrosonicsHandler::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>&) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    QLOG("Disconnected");
    // Requests for a closed connection have nowhere to go.
    std::erase_if(rollingCommands_, [sock](const Pending& p) { return p.socket == sock; });
    std::shared_ptr<DispatchSocket> keep = std::move(it->second.socket);
    connections_.erase(it);
    RunLoop::postToMain([keep] {});
}

void LectrosonicsHandler::push(DispatchSocket* sock, std::string command) {
    if (!sock || !connections_.count(sock)) return;
    const bool waiting =
        std::any_of(rollingCommands_.begin(), rollingCommands_.end(),
                    [&](const Pending& p) { return p.socket == sock && p.command == command; });
    if (waiting) return;
    if (rollingCommands_.size() >= kMaxPending) rollingCommands_.pop_front();
    rollingCommands_.push_back({sock, std::move(command)});
}

void LectrosonicsHandler::askRf() {
    if (!registry_) return;
    std::set<std::string> seen;
    for (const auto& [name, record] : registry_->devices()) {
        if (!seen.insert(record->ip()).second) continue;
        if (record->deviceType() == WirelessDevice::kLectrosonics) {
            push(record->tcpSocket().get(), lx::kAskRf);
        }
    }
}

void LectrosonicsHandler::askBatteryData() {
    if (!registry_) return;
    std::set<std::string> seen;
    for (const auto& [name, record] : registry_->devices()) {
        const bool first = seen.insert(record->ip()).second;
        if (record->deviceType() != WirelessDevice::kLectrosonics) continue;
        DispatchSocket* sock = record->tcpSocket().get();
        if (first) {
            push(sock, lx::kAskBatteryKind);
            push(sock, lx::kAskBatteryLevel);
        }
        push(sock, lx::askStatus(record->channel()));
    }
}

void LectrosonicsHandler::askNextCommand() {
    if (rollingCommands_.empty()) return;
    const Pending next = rollingCommands_.back();
    rollingCommands_.pop_back();
    const auto it = connections_.find(next.socket);
    if (it == connections_.end()) return;
    write(it->second, next.command, kCommandTimeout);
}

void LectrosonicsHandler::askData() {
    commandIndex_ = 0;
    if (registry_) {
        for (const auto& [name, record] : registry_->devices()) {
            if (record->deviceType() != WirelessDevice::kLectrosonics) continue;
            DispatchSocket* sock = record->tcpSocket().get();
            push(sock, lx::askStatus(record->channel()));
            push(sock, lx::askBatteryKind(record->channel()));
            push(sock, lx::askBatteryLevel(record->channel()));
        }
    }
    askNextCommand();
}

void LectrosonicsHandler::askChannelStatus(const std::string& /*channel*/) {}

void LectrosonicsHandler::sendNextIfPending() {
    if (!rollingCommands_.empty()) askNextCommand();
}

void LectrosonicsHandler::processLine(const std::string& line, const std::string& host,
                                      DispatchSocket* sock) {
    if (!registry_) return;
    const auto fields = rt::split(line, ' ');
    if (fields.size() < 2 || fields[0] != "OK") return;
    const std::string_view field1 = fields[1];
    const double now = RunLoop::main().now();
    auto has = [&](const char* word) { return field1.find(word) != std::string_view::npos; };
    if (has("rxname")) {
        const auto reply = lx::parseName(line, field1);
        if (!reply) return;
        if (!registry_->device(reply->name)) {
            auto made = std::make_shared<WirelessDevice>();
            made->setName(reply->name);
            made->setIp(host);
            const auto it = connections_.find(sock);
            if (it != connections_.end()) made->setTcpSocket(it->second.socket);
            made->setChannel(reply->channel);
            made->setDeviceType(WirelessDevice::kLectrosonics);
            made->setLastSeen(now);
            if (registry_->addDevice(std::move(made))) {
                QLOG("Found new Lectrosonics device %s", reply->name.c_str());
            }
        }
        askNextDeviceName(sock);
    } else if (has("rxstat")) {
        const auto reply = lx::parseStatus(field1);
        if (!reply) return;
        if (reply->items.size() != 9) {
            QLOG("Wrong amount of components in rxstat");
            return;
        }
        if (WirelessDevice* r = registry_->deviceWith(host, reply->channel)) {
            r->setRf(lx::rfFromMeter(rt::intValue(reply->items[4])));
            const int32_t antenna = rt::intValue(reply->items[6]);
            if (rt::intValue(reply->items[2]) == 0) {
                r->setIsA_active(false);
                r->setIsB_active(false);
                r->setRf(-1);
                r->setBattery(-1);
            } else if (antenna == 0 || antenna == 1) {
                r->setIsA_active(antenna == 0);
                r->setIsB_active(antenna == 1);
            }
            r->setLastSeen(now);
        }
        sendNextIfPending();
    } else if (has("txblevel") || has("rxrmeter") || has("txbatt")) {
        const bool level = has("txblevel");
        const bool meter = !level && has("rxrmeter");
        const auto items = lx::parseList(field1);
        if (!items) {
            QLOG("Wrong amount of components in %s", level   ? "txblevel"
                                                     : meter ? "rxrmeter"
                                                             : "txbatt");
            return;
        }
        for (size_t i = 0; i < items->size(); ++i) {
            WirelessDevice* r = registry_->deviceWith(host, std::to_string(i + 1));
            if (!r) continue;
            const int32_t value = rt::intValue((*items)[i]);
            if (level) {
                if (r->batteryMaxVoltage() <= 0) continue;
                r->setBattery(lx::batteryFromLevel(value, r->batteryMaxVoltage()));
            } else if (meter) {
                r->setRf(lx::rfFromMeter(value));
            } else {
                r->setBatteryMaxVoltage(value < 2 ? 15 : 90);
            }
            r->setLastSeen(now);
        }
        sendNextIfPending();
    }
}

}  // namespace quenbril
