#include "MonitorApp/serverrole/EMHandler.h"

#include <cstdio>

#include "MonitorApp/serverrole/EMCodec.h"
#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {
// Receivers are matched to an interface by the first characters of their addresses.
constexpr size_t kSubnetPrefix = 6;
}  // namespace

EMHandler::EMHandler(UdpEndpointFactory udp) : udp_(std::move(udp)) {}

void EMHandler::openSockets(const WirelessManager& registry) {
    opened_ = true;
    if (!udp_) return;
    for (const NetworkInterface& iface : registry.interfaces()) {
        if (iface.address == "127.0.0.1") continue;
        std::unique_ptr<UdpEndpoint> socket = udp_(this);
        if (!socket) continue;
        Error error;
        // Another program listening for the receivers may hold the port too; a refusal
        // shows as the bind's failure.
        socket->enableReusePort(true, nullptr);
        if (!socket->bindToPort(em::kLocalPort, iface.address, &error)) {
            QLOG("BIND to 8138 failed");
        }
        if (!socket->beginReceiving(&error)) {
            QLOG("Error receiving: %s", error.description.c_str());
            continue;
        }
        sockets_.push_back(std::move(socket));
    }
}

void EMHandler::connectTo(WirelessManager& registry) {
    registry_ = &registry;
    if (!opened_) openSockets(registry);
    for (const auto& socket : sockets_) {
        const std::string local = socket->localHost().value_or("");
        for (const WirelessManager::ReceiverAddress& receiver : registry.deviceIPs()) {
            if (receiver.type != kDeviceType) continue;
            if (!receivertext::samePrefix(local, receiver.address, kSubnetPrefix)) {
                continue;
            }
            QLOG("Searching Sennheiser EM373-II from %s", receiver.address.c_str());
            for (Bytes request : {em::askName0(), em::askData0(), em::askName1(), em::askData1()}) {
                socket->sendData(std::move(request), receiver.address, em::kReceiverPort, -1, 0);
            }
        }
    }
}

void EMHandler::udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                                      const std::string& host) {
    const std::optional<em::Reply> reply = em::decodeReply(data.data(), data.size());
    if (!reply || !registry_) return;
    switch (reply->kind) {
        case em::Reply::Kind::Ignored:
            std::puts("0609 ignored");
            return;
        case em::Reply::Kind::Unknown:
            std::printf("Unknown message 0x%02x 0x%02x\n", reply->byte0, reply->byte1);
            return;
        case em::Reply::Kind::Name:
            QLOG("channel %s name: %s", reply->channel.c_str(), reply->name.c_str());
            if (reply->channel == "1") std::puts("channel 1 name: ");
            break;
        case em::Reply::Kind::Data:
            break;
    }
    WirelessDevice* record = registry_->deviceWith(host, reply->channel);
    if (reply->kind == em::Reply::Kind::Name) {
        if (!record) {
            auto made = std::make_shared<WirelessDevice>();
            made->setName(reply->name);
            made->setIp(host);
            made->setSocket(endpoint);
            made->setChannel(reply->channel);
            made->setDeviceType(kDeviceType);
            // An empty or taken name makes no record.
            record = registry_->addDevice(std::move(made));
            if (!record) return;
            QLOG("Found new device %s, socket %p", reply->name.c_str(),
                 static_cast<void*>(endpoint));
        }
    } else {
        if (!record) return;
        record->setBattery(reply->battery);
        record->setRf(reply->rf);
        record->setIsA_active(reply->antennaA);
        record->setIsB_active(!reply->antennaA);
    }
    record->setLastSeen(RunLoop::main().now());
}

void EMHandler::udpEndpointDidNotSend(UdpEndpoint*, long, const Error& error) {
    QLOG("not sent. Connected %zu sockets: %s", sockets_.size(), error.description.c_str());
}

void EMHandler::udpEndpointDidNotConnect(UdpEndpoint*, const Error&) { QLOG("didnot comnnect"); }

void EMHandler::udpEndpointDidClose(UdpEndpoint*, const std::optional<Error>&) {
    QLOG("did close. Connected %zu sockets", sockets_.size());
}

}  // namespace quenbril
