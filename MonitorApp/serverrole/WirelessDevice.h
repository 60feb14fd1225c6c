#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/Timer.h"

namespace quenbril {

class DispatchSocket;
class UdpEndpoint;

/// One wireless receiver channel as a receiver driver reports it, keyed in the registry by its
/// name. Strips find theirs by their wireless name. Main thread only.
class WirelessDevice {
  public:
    /// Seconds between two requests of an active record.
    static constexpr double kRequestInterval = 10.0;
    static constexpr uint16_t kG3Port = 53212;
    static constexpr uint16_t kUHFRPort = 2202;

    enum Type : uint64_t {
        kVozodULXD = 0,
        kVozodAxient = 1,
        kUHFR = 2,
        kG3 = 3,
        kWisycom = 4,
        kEM = 5,
        kSony = 6,
        kLectrosonics = 7,
        kVozodAD4D = 8,
        kKeptAlways = 9,
    };

    WirelessDevice() = default;
    WirelessDevice(const WirelessDevice&) = delete;
    WirelessDevice& operator=(const WirelessDevice&) = delete;

    const std::string& name() const { return name_; }
    void setName(std::string v) { name_ = std::move(v); }
    /// Transmitter battery in percent, -1 when the receiver reports none; the G3 path keeps
    /// the receiver's own figure.
    int32_t battery() const { return battery_; }
    void setBattery(int32_t v) { battery_ = v; }
    int32_t batteryMaxVoltage() const { return batteryMaxVoltage_; }
    void setBatteryMaxVoltage(int32_t v) { batteryMaxVoltage_ = v; }
    /// RF level 0..100, -1 when the receiver reports the channel absent.
    int32_t rf() const { return rf_; }
    void setRf(int32_t v) { rf_ = v; }
    int32_t rfA() const { return rfA_; }
    void setRfA(int32_t v) { rfA_ = v; }
    int32_t rfB() const { return rfB_; }
    void setRfB(int32_t v) { rfB_ = v; }
    int32_t rfC() const { return rfC_; }
    void setRfC(int32_t v) { rfC_ = v; }
    int32_t rfD() const { return rfD_; }
    void setRfD(int32_t v) { rfD_ = v; }
    int32_t quality() const { return quality_; }
    void setQuality(int32_t v) { quality_ = v; }
    uint64_t deviceType() const { return deviceType_; }
    void setDeviceType(uint64_t v) { deviceType_ = v; }
    /// Absolute time of the last reply, seconds since 2001.
    double lastSeen() const { return lastSeen_; }
    void setLastSeen(double v) { lastSeen_ = v; }
    bool isA_active() const { return isA_active_; }
    void setIsA_active(bool v) { isA_active_ = v; }
    bool isB_active() const { return isB_active_; }
    void setIsB_active(bool v) { isB_active_ = v; }
    bool isC_active() const { return isC_active_; }
    void setIsC_active(bool v) { isC_active_ = v; }
    bool isD_active() const { return isD_active_; }
    void setIsD_active(bool v) { isD_active_ = v; }
    /// The receiver's IPv4 address, dotted.
    const std::string& ip() const { return ip_; }
    void setIp(std::string v) { ip_ = std::move(v); }
    /// Channel number within a multi-channel receiver; empty for a single channel.
    const std::string& channel() const { return channel_; }
    void setChannel(std::string v) { channel_ = std::move(v); }
    /// The datagram socket the receiver answered through. Owned by the registry or the driver
    /// that made the record, both of which outlive it.
    UdpEndpoint* socket() const { return socket_; }
    void setSocket(UdpEndpoint* v) { socket_ = v; }
    const std::shared_ptr<DispatchSocket>& tcpSocket() const { return tcpSocket_; }
    void setTcpSocket(std::shared_ptr<DispatchSocket> v) { tcpSocket_ = std::move(v); }

    bool active() const { return active_; }
    /// On: the record asks its receiver at once and every kRequestInterval seconds of the main
    /// loop. Off: it stops asking, and an active UHF-R record tells its receiver to stop
    /// metering.
    void setActive(bool flag);
    /// One request to the receiver, when active (G3 and UHF-R records only).
    void doRequest();
    /// Called for every record in each discovery pass: an inactive UHF-R record asks its
    /// channel's name, whose reply keeps the record from being dropped for silence.
    void keepAlive();
    /// The message's bytes to host:port through the record's socket.
    void sendUDPData(const std::string& host, uint16_t port, std::string_view message, long tag);
    /// Updates the record from a reply of its receiver (UHF-R samples, G3 pushes) received at
    /// `now` (seconds since 2001).
    void parseResponse(std::string_view reply, double now);

  private:
    void parseUHFRSample(std::string_view reply);
    void parseG3Push(std::string_view reply);

    Timer queryTimer_;
    bool isA_active_ = false;
    bool isB_active_ = false;
    bool isC_active_ = false;
    bool isD_active_ = false;
    bool active_ = false;
    int32_t battery_ = 0;
    int32_t batteryMaxVoltage_ = 0;
    int32_t rf_ = 0;
    int32_t rfA_ = 0;
    int32_t rfB_ = 0;
    int32_t rfC_ = 0;
    int32_t rfD_ = 0;
    int32_t quality_ = 0;
    std::string name_;
    std::string ip_;
    UdpEndpoint* socket_ = nullptr;
    std::shared_ptr<DispatchSocket> tcpSocket_;
    double lastSeen_ = 0;
    std::string channel_;
    uint64_t deviceType_ = 0;
};

}  // namespace quenbril
