#include "MonitorApp/serverrole/WisycomHandler.h"

#include "MonitorApp/serverrole/MrkCodec.h"
#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

WisycomHandler::WisycomHandler() {
    pollTimer_ = RunLoop::main().scheduleTimer(kPollInterval, true, [this] { queryStatus(); });
}

WisycomHandler::~WisycomHandler() {
    for (auto& [raw, c] : connections_) {
        c.socket->synchronouslySetDelegate(nullptr);
        c.socket->disconnect();
    }
}

size_t WisycomHandler::connectedCount() const {
    size_t n = 0;
    for (const auto& [raw, c] : connections_) n += c.connected ? 1 : 0;
    return n;
}

const WisycomHelper* WisycomHandler::helper(const std::string& host) const {
    const auto it = socketHelpers_.find(host);
    return it == socketHelpers_.end() ? nullptr : &it->second;
}

std::shared_ptr<DispatchSocket> WisycomHandler::shared(DispatchSocket* sock) const {
    const auto it = connections_.find(sock);
    return it == connections_.end() ? nullptr : it->second.socket;
}

void WisycomHandler::connectTo(WirelessManager& registry) {
    registry_ = &registry;
    for (const WirelessManager::ReceiverAddress& receiver : registry.deviceIPs()) {
        if (receiver.type != WirelessDevice::kWisycom) continue;
        bool taken = false;
        for (const auto& [raw, c] : connections_) taken = taken || c.host == receiver.address;
        if (taken) continue;
        QLOG("Searching for WISYCOM from %s", receiver.address.c_str());
        auto socket = DispatchSocket::make(this, dispatch::Queue::main());
        Error error;
        if (!socket->connectToHost(receiver.address, kPort, &error)) continue;
        connections_[socket.get()] = Connection{socket, receiver.address, false};
    }
}

void WisycomHandler::send(DispatchSocket* sock, uint8_t command, uint8_t destination) {
    uint8_t frame[16];
    uint8_t escaped[32];
    const int n = mrk_build_command(command, destination, frame, sizeof frame);
    if (n < 0 || !sock) return;
    const size_t m = mrk_escape(frame, escaped, static_cast<size_t>(n));
    sock->writeData(Bytes(escaped, escaped + m), -1, 0);
}

void WisycomHandler::socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                            uint16_t port) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    QLOG("Socket:DidConnectToHost: %s Port: %hu", host.c_str(), port);
    it->second.connected = true;
    socketHelpers_[it->second.host] = WisycomHelper();
    send(sock, MRK_OPEN, MRK_BROADCAST);
    sock->readDataWithTimeout(-1, 0);
}

void WisycomHandler::socketDidReadData(DispatchSocket* sock, const Bytes& data, long) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    const std::string host = it->second.host;
    receive(data.data(), data.size(), host, sock);
    if (connections_.count(sock)) sock->readDataWithTimeout(kReadTimeout, 0);
}

void WisycomHandler::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>&) {
    const auto it = connections_.find(sock);
    if (it == connections_.end()) return;
    std::shared_ptr<DispatchSocket> keep = std::move(it->second.socket);
    connections_.erase(it);
    RunLoop::postToMain([keep] {});
}

void WisycomHandler::receive(const uint8_t* bytes, size_t length, const std::string& host,
                             DispatchSocket* sock) {
    const auto it = socketHelpers_.find(host);
    if (it == socketHelpers_.end()) {
        QLOG("Helper not found");
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        // The helper may be replaced while a frame is handled; look it up for every byte.
        WisycomHelper& h = socketHelpers_[host];
        if (h.rcvBufPos >= WisycomHelper::kMaxBufLen) {
            QLOG("Too long message from device!!!");
            h.rcvBufPos = 0;
        }
        h.rcvBuffer[h.rcvBufPos] = bytes[i];
        if (bytes[i] != MRK_END) {
            ++h.rcvBufPos;
            continue;
        }
        const std::vector<uint8_t> frame(h.rcvBuffer.begin(),
                                         h.rcvBuffer.begin() + static_cast<long>(h.rcvBufPos) + 1);
        h.rcvBufPos = 0;
        parseCommand(frame.data(), frame.size(), host, sock);
    }
}

void WisycomHandler::mrk_receive(DispatchSocket* /*sock*/, const Bytes& /*recvline*/) {}

void WisycomHandler::parseCommand(const uint8_t* raw, size_t length, const std::string& host,
                                  DispatchSocket* sock) {
    const auto found = socketHelpers_.find(host);
    if (found == socketHelpers_.end()) {
        QLOG("Helper not found");
        return;
    }
    WisycomHelper& h = found->second;
    std::vector<uint8_t> frame(length);
    const int n = mrk_unescape(raw, frame.data(), length);
    if (n < 0) return;
    frame.resize(static_cast<size_t>(n));
    const int command = mrk_frame_command(frame.data(), frame.size());
    if (command < 0 || !registry_) return;
    const int source = frame[1];
    switch (command) {
        case MRK_OPEN:
            if (source == MRK_BROADCAST) {
                send(sock, MRK_NETBUILD, MRK_BROADCAST);
                QLOG("OPEN from FF received, sending NETBUILD to FF");
            } else {
                send(sock, MRK_NAME, static_cast<uint8_t>(source));
                QLOG("OPEN from %d received, sending NAME to %d", source, source);
            }
            break;
        case MRK_NETBUILD: {
            if (frame.size() <= 9) {
                QLOG("Short NETBUILD reply ignored");
                break;
            }
            const int count = frame[9];
            h.addresses.clear();
            h.allAddresses.clear();
            h.named.clear();
            for (int i = 1; i < count; i += 4) {
                for (int a : {i + 1, i + 2}) {
                    h.addresses.push_back(a);
                    h.allAddresses.push_back(a);
                }
            }
            int next = 0;
            if (!h.addresses.empty()) {
                next = h.addresses.back();
                h.addresses.pop_back();
            }
            send(sock, MRK_OPEN, static_cast<uint8_t>(next));
            QLOG("NETBUILD received, sending OPEN to %d", next);
            break;
        }
        case MRK_NAME: {
            mrk_frame_info info;
            const int32_t flags = mrk_parse_frame(frame.data(), frame.size(), &info);
            const std::string channel = std::to_string(source);
            if (flags == 0) {
                WirelessDevice* record = registry_->deviceWith(host, channel);
                if (!record) {
                    auto made = std::make_shared<WirelessDevice>();
                    made->setName(info.name);
                    made->setIp(host);
                    made->setChannel(channel);
                    made->setDeviceType(WirelessDevice::kWisycom);
                    made->setLastSeen(RunLoop::main().now());
                    record = registry_->addDevice(std::move(made));
                    if (record) {
                        QLOG("Found new device %s", info.name);
                        QLOG("NAME received from %d", source);
                    }
                }
                // A record left from an earlier connection counts and moves to this one, so that
                // polling resumes at once after a reconnection.
                if (record) {
                    record->setTcpSocket(shared(sock));
                    h.named.insert(source);
                    if (h.namingDone()) QLOG("All names received, start receiving status");
                }
            }
            if (!h.addresses.empty()) {
                const int next = h.addresses.back();
                h.addresses.pop_back();
                send(sock, MRK_OPEN, static_cast<uint8_t>(next));
                QLOG("NAME received from %d sending OPEN to %d", source, next);
            }
            break;
        }
        case MRK_STATUS: {
            if (frame.size() < kStatusFrameSize) break;
            mrk_status status;
            mrk_summary summary;
            mrk_decode_status(frame.data(), &status, &summary);
            WirelessDevice* record = registry_->deviceWith(host, std::to_string(source));
            if (!record) {
                QLOG("DEVICE NOT FOUND!!!");
                break;
            }
            record->setBattery(summary.battery);
            record->setIsA_active(summary.antennaA != 0);
            record->setIsB_active(summary.antennaB != 0);
            record->setRf(std::max(summary.rfAPercent, summary.rfBPercent));
            record->setLastSeen(RunLoop::main().now());
            break;
        }
        default:
            break;
    }
}

void WisycomHandler::queryStatus() {
    if (!registry_) return;
    for (auto& [raw, c] : connections_) {
        if (!c.connected) continue;
        const auto it = socketHelpers_.find(c.host);
        if (it == socketHelpers_.end()) {
            QLOG("Not found helper");
            continue;
        }
        WisycomHelper& h = it->second;
        if (h.devicesFound() == 0) {
            // Once while it lasts: the poll runs twenty times a second.
            if (!h.reportedNoDevices) QLOG("no devices");
            h.reportedNoDevices = true;
            continue;
        }
        h.reportedNoDevices = false;
        // A receiver still being named is skipped; the others are polled all the same.
        if (!h.namingDone()) continue;
        const int address =
            h.allAddresses[static_cast<size_t>(h.deviceIndex) % h.allAddresses.size()];
        ++h.deviceIndex;
        if (h.deviceIndex < 0) h.deviceIndex = 0;
        for (const auto& [name, record] : registry_->devices()) {
            if (record->deviceType() != WirelessDevice::kWisycom ||
                record->tcpSocket().get() != raw ||
                receivertext::intValue(record->channel()) != address) {
                continue;
            }
            send(raw, MRK_STATUS, static_cast<uint8_t>(address & 0xFF));
        }
    }
}

}  // namespace quenbril
