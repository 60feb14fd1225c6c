#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "MonitorApp/serverrole/SonyDwx.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"
#include "foundation/Timer.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class DispatchSocket;
class WirelessManager;

/// One Sony DWX receiver: a UDP request to port 51010 switches it to TCP port 51000, which is
/// polled for status every kPollInterval seconds; each status updates one registry record per
/// channel. Main thread only.
class SonyDevice : public UdpEndpointDelegate, public DispatchSocketDelegate {
  public:
    static constexpr double kPollInterval = 0.3;
    static constexpr double kReadTimeout = 5.0;
    static constexpr uint64_t kDeviceType = 6;

    /// Opens the UDP socket (through `udp`) and sends the first request.
    SonyDevice(std::string ip, WirelessManager* registry, const UdpEndpointFactory& udp);
    ~SonyDevice() override;
    SonyDevice(const SonyDevice&) = delete;
    SonyDevice& operator=(const SonyDevice&) = delete;

    /// Starts the protocol afresh and sends the UDP request. When the module's state cannot
    /// be allocated the process ends with status 1.
    void resetAPI();
    /// Starts over with the UDP request unless the TCP link is up.
    void tryToConnect();
    void createTCPSocket();
    void poll();

    const std::string& name() const { return name_; }
    const std::string& ip() const { return ip_; }
    UdpEndpoint* udpsocket() const { return udpsocket_.get(); }
    const std::shared_ptr<DispatchSocket>& tcpsocket() const { return tcpsocket_; }
    bool isPolling() const { return pollTimer_.isValid(); }
    /// The protocol table, whose callbacks update the registry's records.
    WMAPI& wmapi() { return wmapi_; }

    void udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                               const std::string& host) override;
    void udpEndpointDidClose(UdpEndpoint* endpoint, const std::optional<Error>& error) override;
    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

  private:
    static void onName(int index, const char* text, void* ref);
    static void onBattery(int channel, int percent, void* ref);
    static void onRfLevel(int channel, int levelA, int levelB, int active, void* ref);
    void createUDPSocket(const UdpEndpointFactory& udp);
    void dropTCPSocket();

    WMAPI wmapi_;
    Timer pollTimer_;
    std::array<uint8_t, 256> tx_buffer_{};
    std::string name_;
    std::string ip_;
    std::unique_ptr<UdpEndpoint> udpsocket_;
    std::shared_ptr<DispatchSocket> tcpsocket_;
    WirelessManager* registry_;
};

}  // namespace quenbril
