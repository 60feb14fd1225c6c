#include "MonitorApp/serverrole/UHFRHandler.h"

#include <algorithm>

#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace rt = receivertext;

namespace {
constexpr size_t kSubnetPrefix = 6;
// The name starts this far after the start of "CHAN_NAME".
constexpr size_t kNameOffset = 10;
}  // namespace

UHFRHandler::UHFRHandler(UdpEndpointFactory udp) : udp_(std::move(udp)) {}

void UHFRHandler::openSockets(const WirelessManager& registry) {
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
        if (!socket->bindToPort(kPort, iface.address, &error)) QLOG("BIND to 2202 failed");
        if (!socket->beginReceiving(&error)) {
            QLOG("Error receiving: %s", error.description.c_str());
            continue;
        }
        sockets_.push_back(std::move(socket));
    }
}

void UHFRHandler::connectTo(WirelessManager& registry) {
    registry_ = &registry;
    if (!opened_) openSockets(registry);
    for (const auto& socket : sockets_) {
        const std::string local = socket->localHost().value_or("");
        for (const WirelessManager::ReceiverAddress& receiver : registry.deviceIPs()) {
            if (receiver.type != WirelessDevice::kUHFR) continue;
            if (!receivertext::samePrefix(local, receiver.address, kSubnetPrefix)) {
                continue;
            }
            QLOG("Searching for VOZOD UHF-R from %s", receiver.address.c_str());
            for (int channel = 1; channel <= 2; ++channel) {
                const std::string ask = "* GET " + std::to_string(channel) + " CHAN_NAME *";
                socket->sendData(Bytes(ask.begin(), ask.end()), receiver.address, kPort, -1, 0);
            }
        }
    }
}

void UHFRHandler::udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                                        const std::string& host) {
    if (!registry_) return;
    std::string text(data.begin(), data.end());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    const std::string cleaned(rt::trim(text));
    const auto f = rt::split(cleaned, ' ');
    // Without a channel field a datagram means nothing.
    if (f.size() < 3) return;
    const std::string channel(f[2]);
    if (f.size() >= 6 && f[1] == "REPORT" && f[3] == "CHAN_NAME") {
        const size_t at = cleaned.find("CHAN_NAME") + kNameOffset;
        // A report that ends before its twelve name characters is incomplete.
        if (at + kNameLength > cleaned.size()) return;
        const std::string name = cleaned.substr(at, kNameLength);
        WirelessDevice* record = registry_->deviceWith(host, channel);
        if (!record) {
            auto made = std::make_shared<WirelessDevice>();
            made->setName(name);
            made->setIp(host);
            made->setSocket(endpoint);
            made->setChannel(channel);
            made->setDeviceType(WirelessDevice::kUHFR);
            record = registry_->addDevice(std::move(made));
            if (!record) return;
            QLOG("Found new device %s, socket %p", name.c_str(), static_cast<void*>(endpoint));
        }
        record->setLastSeen(RunLoop::main().now());
        QLOG("Device %s updated", record->name().c_str());
    } else if (f.size() >= 10 && f[1] == "SAMPLE") {
        WirelessDevice* record = registry_->deviceWith(host, channel);
        if (!record) {
            QLOG("Corresponding device not found!!!");
            return;
        }
        record->parseResponse(cleaned, RunLoop::main().now());
    }
}

void UHFRHandler::udpEndpointDidNotSend(UdpEndpoint*, long, const Error& error) {
    QLOG("not sent. Connected %zu sockets: %s", sockets_.size(), error.description.c_str());
}

void UHFRHandler::udpEndpointDidNotConnect(UdpEndpoint*, const Error&) { QLOG("didnot comnnect"); }

void UHFRHandler::udpEndpointDidClose(UdpEndpoint*, const std::optional<Error>&) {
    QLOG("did close. Connected %zu sockets", sockets_.size());
}

}  // namespace quenbril
