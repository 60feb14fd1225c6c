#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace quenbril {

/// The highest level byte of each of 128 strips since it was last taken: raised on the capture
/// thread, taken (and cleared) by the level send on the main thread. Neither side locks, and a
/// peak raised while the main thread takes the column is either in that column or the next.
class PeakHold {
  public:
    static constexpr int kStrips = 128;

    /// The level byte of a block's RMS: 0 at -50 dBFS and below, 100 at 0 dBFS, at most 110.
    /// A block that is not a number meters 0.
    static int8_t levelByte(double rms);

    /// Capture thread: keeps `level` for strip `index` when it is higher than the one held.
    void raise(int index, int8_t level) {
        std::atomic<int8_t>& held = levels_[static_cast<size_t>(index)];
        int8_t now = held.load(std::memory_order_relaxed);
        while (level > now && !held.compare_exchange_weak(now, level, std::memory_order_relaxed)) {
        }
    }

    /// Main thread: the held level of strip `index`, leaving 0.
    int8_t take(int index) {
        return levels_[static_cast<size_t>(index)].exchange(0, std::memory_order_relaxed);
    }

    int8_t peek(int index) const {
        return levels_[static_cast<size_t>(index)].load(std::memory_order_relaxed);
    }

  private:
    std::array<std::atomic<int8_t>, kStrips> levels_{};
};

}  // namespace quenbril
