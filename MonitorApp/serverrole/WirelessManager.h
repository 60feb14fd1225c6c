#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/NetworkInterfaces.h"
#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"
#include "MonitorApp/serverrole/WirelessDevice.h"
#include "foundation/Timer.h"
#include "foundation/Value.h"

namespace quenbril {

class UserDefaults;

/// The registry of wireless receiver channels, keyed by channel name: the receivers to poll
/// (the stored "UserIPS" list), one record per channel that has answered, and the drivers.
/// Every kDiscoveryInterval seconds of the main loop a pass drops silent records, searches
/// Sennheiser G3 receivers itself over UDP and lets each driver contact its receivers.
///
/// The application has no registry: `sharedInstance()` yields none unless a test installs one.
/// Main thread only.
class WirelessManager : public UdpEndpointDelegate {
  public:
    using Devices = std::map<std::string, std::shared_ptr<WirelessDevice>>;

    static constexpr double kDiscoveryInterval = 10.0;
    /// A record silent for longer than this is dropped (type 9 never).
    static constexpr double kSilenceLimit = 15.0;
    static constexpr uint16_t kG3Port = WirelessDevice::kG3Port;
    static constexpr const char* kMulticastHost = "224.0.0.251";
    static constexpr const char* kReceiverListKey = "UserIPS";
    /// Records kept at most: the network must not make the registry grow without bound.
    static constexpr size_t kMaxDevices = 1024;

    /// A receiver to poll: its IPv4 address and device type (0..9).
    struct ReceiverAddress {
        std::string address;
        uint64_t type = 0;
        bool operator==(const ReceiverAddress&) const = default;
    };

    /// The six drivers, each optional (none: the family is not polled).
    struct Drivers {
        std::unique_ptr<ReceiverDriver> vozod, uhfr, em, wisycom, sony, lectrosonics;
    };

    /// What the registry is made with.
    struct Services {
        /// Read for "UserIPS"; null: an empty receiver list.
        const UserDefaults* defaults = nullptr;
        std::function<std::optional<std::vector<NetworkInterface>>()> interfaces =
            listNetworkInterfaces;
        /// Makes the per-interface sockets; empty: none.
        UdpEndpointFactory udp = makeDispatchUdpEndpoint;
        Drivers drivers;
    };

    /// A registry of records only: no receiver list, sockets or drivers.
    WirelessManager();
    /// Reads the receiver list and opens one G3 socket per interface address.
    explicit WirelessManager(Services services);
    ~WirelessManager() override;
    WirelessManager(const WirelessManager&) = delete;
    WirelessManager& operator=(const WirelessManager&) = delete;

    /// None in the application; callers check.
    static WirelessManager* sharedInstance();
    /// Tests: installs a registry as the shared one (nullptr removes it). The caller keeps
    /// ownership and removes it before it dies.
    static void setSharedInstance(WirelessManager* registry);

    /// Accepts only [address string, integer type 0..9] entries of a stored receiver list;
    /// others are skipped with a log line.
    static std::vector<ReceiverAddress> readReceiverList(const Value& list);

    const Devices& devices() const { return devices_; }
    Devices& devices() { return devices_; }
    /// The record of a channel name, or null.
    const WirelessDevice* device(const std::string& name) const;
    /// Stores a new record under its name: refused (null) for an empty name, a name taken,
    /// or a full registry.
    WirelessDevice* addDevice(std::shared_ptr<WirelessDevice> device);

    const std::vector<ReceiverAddress>& deviceIPs() const { return deviceIPs_; }
    /// The receiver list for the list editor to change in place.
    std::vector<ReceiverAddress>& deviceIPs() { return deviceIPs_; }
    const std::vector<NetworkInterface>& interfaces() const { return interfaces_; }
    /// "address:53212" -> the socket bound there.
    const std::map<std::string, std::unique_ptr<UdpEndpoint>>& sockets() const { return sockets_; }
    int32_t runningTag() const { return runningTag_; }

    /// Runs a pass at once and then every kDiscoveryInterval seconds; once only.
    void startDiscovery();
    void doDiscovery();
    /// Sends `message` through every socket of `port` whose address shares its first 7
    /// characters with `host`, or through all of them for the multicast group.
    void sendUDPData(const std::string& host, uint16_t port, const std::string& message);

    /// The shared registry's channel names, sorted without regard to case.
    static std::vector<std::string> deviceNames();
    std::vector<std::string> sortedDeviceNames() const;
    /// The shared registry's record of that address and channel (the last met), or null.
    static WirelessDevice* getDevice(const std::string& ip, const std::string& channel);
    WirelessDevice* deviceWith(const std::string& ip, const std::string& channel) const;
    /// Whether any record of the shared registry has that address.
    static bool isIPTaken(const std::string& ip);
    bool hasDeviceAt(const std::string& ip) const;

    /// G3 replies.
    void udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                               const std::string& host) override;
    void udpEndpointDidNotSend(UdpEndpoint* endpoint, long tag, const Error& error) override;
    void udpEndpointDidConnect(UdpEndpoint* endpoint) override;

  private:
    void openSockets();
    double now() const;

    Services services_;
    Timer discoverTimer_;
    int32_t runningTag_ = 0;
    Devices devices_;
    std::vector<ReceiverAddress> deviceIPs_;
    std::map<std::string, std::unique_ptr<UdpEndpoint>> sockets_;
    std::vector<NetworkInterface> interfaces_;
};

}  // namespace quenbril
