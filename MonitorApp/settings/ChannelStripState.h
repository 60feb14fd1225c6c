#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "MonitorApp/settings/MicCheckState.h"

namespace quenbril {

/// The live state of one channel strip: solo state, warnings, mutes, groups, its mic-check
/// record and the last received timecode signal.
///
/// Movable, not copyable: the timecode sample buffer is the state's own for its whole life and
/// keeps its address (a move hands the buffer over).
class ChannelStripState {
  public:
    static constexpr int kTimeCodeSampleCount = 180;
    using TimeCodeSample = std::array<float, kTimeCodeSampleCount>;

    /// Channel states.
    enum : uint64_t { kOff = 0, kActive = 1, kSoloed = 2, kHardSoloed = 3, kAutoSoloed = 4 };

    ChannelStripState();
    ChannelStripState(ChannelStripState&&) = default;
    ChannelStripState& operator=(ChannelStripState&&) = default;
    ChannelStripState(const ChannelStripState&) = delete;
    ChannelStripState& operator=(const ChannelStripState&) = delete;

    /// Clears the six detection counters and the battery, SCP and RF warnings. Channel state,
    /// mutes, groups and the mic-check record stay.
    void reset();

    bool rfWarningOn() const { return rfWarningOn_; }
    void setRfWarningOn(bool v) { rfWarningOn_ = v; }
    bool warningOn() const { return warningOn_; }
    void setWarningOn(bool v) { warningOn_ = v; }
    bool batWarningOn() const { return batWarningOn_; }
    void setBatWarningOn(bool v) { batWarningOn_ = v; }
    bool hardMuted() const { return hardMuted_; }
    void setHardMuted(bool v) { hardMuted_ = v; }
    bool receiverMuted() const { return receiverMuted_; }
    void setReceiverMuted(bool v) { receiverMuted_ = v; }

    int32_t clipWarnings() const { return clipWarnings_; }
    void setClipWarnings(int32_t v) { clipWarnings_ = v; }
    int32_t symmetryWarnings() const { return symmetryWarnings_; }
    void setSymmetryWarnings(int32_t v) { symmetryWarnings_ = v; }
    int32_t meanWarnings() const { return meanWarnings_; }
    void setMeanWarnings(int32_t v) { meanWarnings_ = v; }
    int32_t hfWarnings() const { return hfWarnings_; }
    void setHfWarnings(int32_t v) { hfWarnings_ = v; }
    int32_t lpfWarnings() const { return lpfWarnings_; }
    void setLpfWarnings(int32_t v) { lpfWarnings_ = v; }
    int32_t peakWarnings() const { return peakWarnings_; }
    void setPeakWarnings(int32_t v) { peakWarnings_ = v; }

    int32_t batteryPower() const { return batteryPower_; }
    void setBatteryPower(int32_t v) { batteryPower_ = v; }
    int32_t rfLevel() const { return rfLevel_; }
    void setRfLevel(int32_t v) { rfLevel_ = v; }
    /// Frame rate of the last received timecode sample.
    int32_t fps() const { return fps_; }
    void setFps(int32_t v) { fps_ = v; }
    /// Level of the received timecode signal, in dB below its maximum.
    float LTCFromMax() const { return LTCFromMax_; }
    void setLTCFromMax(float v) { LTCFromMax_ = v; }

    /// Group indexes (1 to 8) the current snapshot assigns to the strip: an ordered set.
    const std::vector<int32_t>& assignedGroups() const { return assignedGroups_; }
    /// Adds a group at the end unless it is already assigned.
    void addAssignedGroup(int32_t group);
    void removeAllAssignedGroups() { assignedGroups_.clear(); }

    /// 0 off, 1 active, 2 soloed, 3 hard-soloed, 4 auto-soloed.
    uint64_t channelState() const { return channelState_; }
    void setChannelState(uint64_t v) { channelState_ = v; }
    uint64_t suggestedChannelState() const { return suggestedChannelState_; }
    void setSuggestedChannelState(uint64_t v) { suggestedChannelState_ = v; }

    MicCheckState& micCheckState() { return micCheckState_; }
    const MicCheckState& micCheckState() const { return micCheckState_; }

    /// The last received timecode waveform (180 samples); null only in a moved-from state.
    TimeCodeSample* timeCodeSample() { return timeCodeSample_.get(); }
    const TimeCodeSample* timeCodeSample() const { return timeCodeSample_.get(); }

  private:
    bool rfWarningOn_ = false;
    bool warningOn_ = false;
    bool batWarningOn_ = false;
    bool hardMuted_ = false;
    bool receiverMuted_ = false;
    int32_t clipWarnings_ = 0;
    int32_t symmetryWarnings_ = 0;
    int32_t meanWarnings_ = 0;
    int32_t hfWarnings_ = 0;
    int32_t lpfWarnings_ = 0;
    int32_t peakWarnings_ = 0;
    int32_t batteryPower_ = 0;
    int32_t rfLevel_ = 0;
    int32_t fps_ = 0;
    float LTCFromMax_ = 0;
    std::vector<int32_t> assignedGroups_;
    uint64_t channelState_ = kOff;
    uint64_t suggestedChannelState_ = kOff;
    MicCheckState micCheckState_;
    std::unique_ptr<TimeCodeSample> timeCodeSample_;
};

}  // namespace quenbril
