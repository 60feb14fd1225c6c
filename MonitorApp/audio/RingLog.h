#pragma once

#include <atomic>
#include <cstdint>

namespace quenbril {

/// The diagnostic lines of a ring. Rings run on audio threads, which must not print, so a ring only
/// counts each kind of line (with the figures of the latest one) and the main thread prints them
/// through flush().
class RingLog {
  public:
    enum class Line {
        /// "RING: Not enough data in buffer, got only %d %d chans - FILLING" (held, channels)
        RingFilling,
        /// "Not enough data in buffer, got only %d %d chans" (held, channels)
        NotEnoughData,
        /// "Not enough data in buffer, got only %d" (held), the in-place read
        NotEnoughInPlace,
        /// "Buffer is too full...reset"
        TooFullReset,
        /// "Buffer has now %d blocks, continue" (held)
        ContinuePlaying,
        /// "Stream buffer empty, start filling!"
        StreamEmpty,
        /// The reader gave up a read because the writer kept dropping the frames under it.
        ReadOverrun,
    };
    static constexpr int kLineCount = 7;

    /// Any thread: counts one line. Lock-free and allocation-free.
    void note(Line line, int a = 0, int b = 0) {
        Slot& slot = slots_[static_cast<int>(line)];
        slot.a.store(a, std::memory_order_relaxed);
        slot.b.store(b, std::memory_order_relaxed);
        slot.count.fetch_add(1, std::memory_order_release);
    }

    /// Lines of this kind counted since the last flush.
    uint32_t pending(Line line) const {
        return slots_[static_cast<int>(line)].count.load(std::memory_order_acquire);
    }

    /// Main thread: prints each kind of line counted since the last flush once, with the figures
    /// of the latest and the number of times it occurred when more than once.
    void flush();

  private:
    struct Slot {
        std::atomic<uint32_t> count{0};
        std::atomic<int> a{0};
        std::atomic<int> b{0};
    };
    Slot slots_[kLineCount];
};

}  // namespace quenbril
