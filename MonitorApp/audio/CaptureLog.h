#pragma once

#include <atomic>
#include <cstdint>

namespace quenbril {

/// The diagnostic lines of the server role's capture callback. The callback must not print, so
/// it counts each kind of line with the figures of the latest, and the main thread prints them
/// through flush(), as the rings' log does.
class CaptureLog {
  public:
    enum class Line {
        /// "Got %d channels...should've got %d" (channels, strips)
        WrongChannelCount,
        /// "Not ready"
        NotReady,
        /// "WARNING: PROCESSING TOOK TOO LONG: Took %f, max was %f" (seconds)
        TookTooLong,
        /// "%f percent needed"
        PercentNeeded,
    };
    static constexpr int kLineCount = 4;

    /// Any thread: counts one line. Lock-free and allocation-free.
    void note(Line line, double a = 0, double b = 0) {
        Slot& slot = slots_[static_cast<int>(line)];
        slot.a.store(a, std::memory_order_relaxed);
        slot.b.store(b, std::memory_order_relaxed);
        slot.count.fetch_add(1, std::memory_order_release);
    }

    uint32_t pending(Line line) const {
        return slots_[static_cast<int>(line)].count.load(std::memory_order_acquire);
    }

    /// Main thread: prints each kind of line counted since the last flush once.
    void flush();

  private:
    struct Slot {
        std::atomic<uint32_t> count{0};
        std::atomic<double> a{0};
        std::atomic<double> b{0};
    };
    Slot slots_[kLineCount];
};

}  // namespace quenbril
