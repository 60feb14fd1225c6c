#include "MonitorApp/serverrole/SonyDevice.h"

#include <cstdio>
#include <cstdlib>

#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

SonyDevice::SonyDevice(std::string ip, WirelessManager* registry, const UdpEndpointFactory& udp)
    : ip_(std::move(ip)), registry_(registry) {
    createUDPSocket(udp);
    resetAPI();
}

SonyDevice::~SonyDevice() {
    dropTCPSocket();
    sony_dwx_exit(&wmapi_);
}

void SonyDevice::createUDPSocket(const UdpEndpointFactory& udp) {
    std::unique_ptr<UdpEndpoint> socket = udp ? udp(this) : nullptr;
    Error error;
    if (socket) socket->enableReusePort(true, nullptr);
    if (!socket || !socket->bindToPort(0, "", &error) || !socket->beginReceiving(&error)) {
        QLOG("Error receiving: %s", error.description.c_str());
        return;
    }
    udpsocket_ = std::move(socket);
}

void SonyDevice::resetAPI() {
    // A fresh start releases the state of the previous one, and goes through the table's own
    // init once the table has one.
    sony_dwx_exit(&wmapi_);
    const auto init = wmapi_.init ? wmapi_.init : sony_dwx_init;
    if (init(&wmapi_, ip_.c_str(), this) != 0) {
        // Out of memory for a few bytes of state: nothing sensible is left to do.
        std::puts("sony_dwx_init() returned error!");
        std::exit(1);
    }
    std::puts("wmapi.init() done.");
    wmapi_.callback_battery = onBattery;
    wmapi_.callback_rf_level = onRfLevel;
    wmapi_.callback_name = onName;
    const int n = wmapi_.get(&wmapi_, tx_buffer_.data(), tx_buffer_.size());
    QLOG("UDP sent");
    if (udpsocket_ && n > 0) {
        udpsocket_->sendData(Bytes(tx_buffer_.begin(), tx_buffer_.begin() + n), ip_, sony::kUdpPort,
                             -1, 0);
    }
}

void SonyDevice::tryToConnect() {
    if (!tcpsocket_ || !tcpsocket_->isConnected()) resetAPI();
}

void SonyDevice::createTCPSocket() {
    dropTCPSocket();
    tcpsocket_ = DispatchSocket::make(this, dispatch::Queue::main());
    QLOG("Trying to connect TCP...");
    Error error;
    if (!tcpsocket_->connectToHost(ip_, sony::kTcpPort, &error)) {
        QLOG("TCP refused");
        dropTCPSocket();
    }
}

void SonyDevice::dropTCPSocket() {
    pollTimer_.invalidate();
    if (!tcpsocket_) return;
    tcpsocket_->synchronouslySetDelegate(nullptr);
    tcpsocket_->disconnect();
    tcpsocket_.reset();
}

void SonyDevice::poll() {
    if (!tcpsocket_ || !wmapi_.get) return;
    const int n = wmapi_.get(&wmapi_, tx_buffer_.data(), tx_buffer_.size());
    if (n > 0) tcpsocket_->writeData(Bytes(tx_buffer_.begin(), tx_buffer_.begin() + n), -1, 0);
}

void SonyDevice::udpEndpointDidReceive(UdpEndpoint*, const Bytes& data, const std::string& host) {
    // Only the receiver itself may switch its protocol.
    if (host != ip_ || !wmapi_.set) return;
    QLOG("UDP received data");
    wmapi_.set(&wmapi_, data.data(), data.size());
    // Both answers to a new device's two requests switch it; one link is enough.
    if (wmapi_.get_connection_type(&wmapi_) == sony::kConnectionTCP &&
        !(tcpsocket_ && !tcpsocket_->isDisconnected())) {
        createTCPSocket();
    }
}

void SonyDevice::udpEndpointDidClose(UdpEndpoint*, const std::optional<Error>&) {
    QLOG("did close.");
}

void SonyDevice::socketDidConnectToHost(DispatchSocket* sock, const std::string&, uint16_t) {
    if (sock != tcpsocket_.get()) return;
    QLOG("Sony connected");
    pollTimer_ = RunLoop::main().scheduleTimer(kPollInterval, true, [this] { poll(); });
    sock->readDataWithTimeout(kReadTimeout, 0);
}

void SonyDevice::socketDidReadData(DispatchSocket* sock, const Bytes& data, long) {
    if (sock != tcpsocket_.get()) return;
    if (wmapi_.set) wmapi_.set(&wmapi_, data.data(), data.size());
    sock->readDataWithTimeout(kReadTimeout, 0);
}

void SonyDevice::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>&) {
    if (sock != tcpsocket_.get()) return;
    pollTimer_.invalidate();
    QLOG("TCP refused");
}

void SonyDevice::onName(int index, const char* text, void* ref) {
    auto* self = static_cast<SonyDevice*>(ref);
    if (index == 0 || !self->registry_) return;
    const std::string channel = std::to_string(index);
    WirelessDevice* record = self->registry_->deviceWith(self->ip_, channel);
    if (!record) {
        auto made = std::make_shared<WirelessDevice>();
        made->setName(text);
        made->setIp(self->ip_);
        made->setChannel(channel);
        made->setDeviceType(kDeviceType);
        record = self->registry_->addDevice(std::move(made));
        if (!record) return;
        QLOG("Found new device %s", text);
    }
    record->setLastSeen(RunLoop::main().now());
}

void SonyDevice::onBattery(int channel, int percent, void* ref) {
    auto* self = static_cast<SonyDevice*>(ref);
    if (!self->registry_) return;
    if (WirelessDevice* r = self->registry_->deviceWith(self->ip_, std::to_string(channel))) {
        r->setBattery(percent);
    }
}

void SonyDevice::onRfLevel(int channel, int levelA, int levelB, int active, void* ref) {
    auto* self = static_cast<SonyDevice*>(ref);
    if (!self->registry_) return;
    WirelessDevice* r = self->registry_->deviceWith(self->ip_, std::to_string(channel));
    if (!r) return;
    if (active == -1) {
        r->setIsA_active(false);
        r->setIsB_active(false);
        r->setRf(-1);
        r->setBattery(-1);
        return;
    }
    r->setRf(levelA >= levelB ? levelA : levelB);
    r->setIsA_active(levelA >= levelB);
    r->setIsB_active(levelA < levelB);
    r->setLastSeen(RunLoop::main().now());
}

}  // namespace quenbril
