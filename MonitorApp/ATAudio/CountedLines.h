#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/Log.h"

namespace quenbril {

/// Log lines an audio thread counts instead of printing: each kind keeps how often it came and
/// the two figures of the latest, and the main thread prints them through flush().
template <typename Line, int kLineCount, typename Figure>
class CountedLines {
  public:
    /// Any thread: counts one line. Lock-free and allocation-free.
    void note(Line line, Figure a, Figure b) {
        Slot& slot = slots_[static_cast<int>(line)];
        slot.a.store(a, std::memory_order_relaxed);
        slot.b.store(b, std::memory_order_relaxed);
        slot.count.fetch_add(1, std::memory_order_release);
    }

    /// Lines of this kind counted since the last flush.
    uint32_t pending(Line line) const {
        return slots_[static_cast<int>(line)].count.load(std::memory_order_acquire);
    }

    /// Main thread: logs each kind counted since the last flush once, in the text `format`
    /// (Line, Figure a, Figure b, char* text, size_t size) writes, with the number of times
    /// when more than once.
    template <typename Format>
    void flush(Format format) {
        for (int i = 0; i < kLineCount; ++i) {
            Slot& slot = slots_[i];
            const uint32_t times = slot.count.exchange(0, std::memory_order_acquire);
            if (times == 0) continue;
            char text[128];
            format(static_cast<Line>(i), slot.a.load(std::memory_order_relaxed),
                   slot.b.load(std::memory_order_relaxed), text, sizeof text);
            if (times == 1) {
                QLOG("%s", text);
            } else {
                QLOG("%s (%u times)", text, times);
            }
        }
    }

  private:
    struct Slot {
        std::atomic<uint32_t> count{0};
        std::atomic<Figure> a{0};
        std::atomic<Figure> b{0};
    };
    Slot slots_[kLineCount];
};

}  // namespace quenbril
