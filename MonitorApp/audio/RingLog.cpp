#include "MonitorApp/audio/RingLog.h"

#include <cstdio>

#include "foundation/Log.h"

namespace quenbril {

void RingLog::flush() {
    for (int i = 0; i < kLineCount; ++i) {
        Slot& slot = slots_[i];
        const uint32_t times = slot.count.exchange(0, std::memory_order_acquire);
        if (times == 0) continue;
        const int a = slot.a.load(std::memory_order_relaxed);
        const int b = slot.b.load(std::memory_order_relaxed);
        char text[128];
        switch (static_cast<Line>(i)) {
            case Line::RingFilling:
                std::snprintf(text, sizeof text,
                              "RING: Not enough data in buffer, got only %d %d chans - FILLING", a,
                              b);
                break;
            case Line::NotEnoughData:
                std::snprintf(text, sizeof text, "Not enough data in buffer, got only %d %d chans",
                              a, b);
                break;
            case Line::NotEnoughInPlace:
                std::snprintf(text, sizeof text, "Not enough data in buffer, got only %d", a);
                break;
            case Line::TooFullReset:
                std::snprintf(text, sizeof text, "Buffer is too full...reset");
                break;
            case Line::ContinuePlaying:
                std::snprintf(text, sizeof text, "Buffer has now %d blocks, continue", a);
                break;
            case Line::StreamEmpty:
                std::snprintf(text, sizeof text, "Stream buffer empty, start filling!");
                break;
            case Line::ReadOverrun:
                std::snprintf(text, sizeof text,
                              "Ring read given up: the writer overwrote the frames being read");
                break;
        }
        if (times == 1) {
            QLOG("%s", text);
        } else {
            QLOG("%s (%u times)", text, times);
        }
    }
}

}  // namespace quenbril
