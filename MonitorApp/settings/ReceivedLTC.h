#pragma once

#include <cstdint>

#include "foundation/Value.h"

namespace quenbril {

/// The last timecode received from one source (one channel strip of the server).
class ReceivedLTC {
  public:
    /// Overwrites the received fields from an "LTC" message; a missing or non-numeric field
    /// gives 0.
    void updateFromMessage(const Dictionary& message);

    /// The channel-strip id of the source.
    int64_t csID() const { return csID_; }
    void setCsID(int64_t v) { csID_ = v; }
    /// The server's time at which it read the timecode, in seconds.
    double receiveTime() const { return receiveTime_; }
    void setReceiveTime(double v) { receiveTime_ = v; }
    /// The server's time at which it sent the message, in seconds.
    double sendTime() const { return sendTime_; }
    void setSendTime(double v) { sendTime_ = v; }
    /// The local absolute time (seconds since 2001) at which the message arrived.
    double receiveLocalTime() const { return receiveLocalTime_; }
    void setReceiveLocalTime(double v) { receiveLocalTime_ = v; }
    int32_t fps() const { return fps_; }
    void setFps(int32_t v) { fps_ = v; }
    int32_t hours() const { return hours_; }
    void setHours(int32_t v) { hours_ = v; }
    int32_t minutes() const { return minutes_; }
    void setMinutes(int32_t v) { minutes_ = v; }
    int32_t seconds() const { return seconds_; }
    void setSeconds(int32_t v) { seconds_ = v; }
    int32_t frames() const { return frames_; }
    void setFrames(int32_t v) { frames_ = v; }
    /// Frames, seconds and local time of the last extrapolation.
    int32_t correctedFrames() const { return correctedFrames_; }
    void setCorrectedFrames(int32_t v) { correctedFrames_ = v; }
    int32_t correctedSeconds() const { return correctedSeconds_; }
    void setCorrectedSeconds(int32_t v) { correctedSeconds_ = v; }
    double correctedTime() const { return correctedTime_; }
    void setCorrectedTime(double v) { correctedTime_ = v; }

  private:
    int64_t csID_ = 0;
    double receiveTime_ = 0;
    double sendTime_ = 0;
    double receiveLocalTime_ = 0;
    int32_t fps_ = 0;
    int32_t hours_ = 0;
    int32_t minutes_ = 0;
    int32_t seconds_ = 0;
    int32_t frames_ = 0;
    int32_t correctedFrames_ = 0;
    int32_t correctedSeconds_ = 0;
    double correctedTime_ = 0;
};

}  // namespace quenbril
