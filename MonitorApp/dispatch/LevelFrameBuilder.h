#pragma once

#include <cstdint>
#include <span>

namespace quenbril {

/// The scratch frames from which the dispatcher appends history columns: the copy of a strip
/// byte frame, and the alert column built from the pending SCP flags and the marker flag.
/// Nothing here allocates; every index is bounded by the 128 strips a frame can carry.
class LevelFrameBuilder {
  public:
    static constexpr int kStrips = 128;

    LevelFrameBuilder();

    /// Clears the scratch frame and copies the first min(n, 128) bytes of `bytes` into it.
    const int8_t* column(std::span<const uint8_t> bytes);

    /// The alert column of a level frame of `n` bytes, built in the scratch frame (call it
    /// after the level column has been appended): 2 at every position below min(n, 128) when a
    /// marker arrived since the last level frame (the flag is then cleared), else 0; 1 where an
    /// SCP is pending, which clears that flag. Positions from min(n, 128) on are 0 and keep
    /// their pending SCP.
    const int8_t* alertColumn(size_t n);

    /// "MarkerAdded".
    void setMarkerFlag() { markerFlag_ = true; }
    bool markerFlag() const { return markerFlag_; }
    /// "SCPOnChannel" at a strip position; false (nothing marked) outside 0..127.
    bool markSCP(int32_t position);
    bool scpPending(int32_t position) const {
        return position >= 0 && position < kStrips && scpBuf_[position] != 0;
    }
    /// Drops every pending SCP (when the main view loads).
    void clearSCP();

  private:
    int8_t tmpBuf_[kStrips];
    uint8_t scpBuf_[kStrips];
    bool markerFlag_ = false;
};

}  // namespace quenbril
