#pragma once

#include <cstdint>
#include <string>

namespace quenbril {

/// One wireless receiver channel as a receiver driver reports it. Strips find theirs by their
/// wireless name.
class WirelessDevice {
  public:
    const std::string& name() const { return name_; }
    void setName(std::string v) { name_ = std::move(v); }
    /// Transmitter battery in percent, -1 when the receiver reports none.
    int32_t battery() const { return battery_; }
    void setBattery(int32_t v) { battery_ = v; }
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

  private:
    std::string name_;
    int32_t battery_ = 0;
    int32_t rf_ = 0;
    int32_t rfA_ = 0;
    int32_t rfB_ = 0;
    int32_t rfC_ = 0;
    int32_t rfD_ = 0;
    int32_t quality_ = 0;
    uint64_t deviceType_ = 0;
    double lastSeen_ = 0;
    bool isA_active_ = false;
    bool isB_active_ = false;
    bool isC_active_ = false;
    bool isD_active_ = false;
};

}  // namespace quenbril
