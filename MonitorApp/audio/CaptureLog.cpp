#include "MonitorApp/audio/CaptureLog.h"

#include <cstdio>

#include "foundation/Log.h"

namespace quenbril {

void CaptureLog::flush() {
    for (int i = 0; i < kLineCount; ++i) {
        Slot& slot = slots_[i];
        const uint32_t times = slot.count.exchange(0, std::memory_order_acquire);
        if (times == 0) continue;
        const double a = slot.a.load(std::memory_order_relaxed);
        const double b = slot.b.load(std::memory_order_relaxed);
        char text[128];
        switch (static_cast<Line>(i)) {
            case Line::WrongChannelCount:
                std::snprintf(text, sizeof text, "Got %d channels...should've got %d",
                              static_cast<int>(a), static_cast<int>(b));
                break;
            case Line::NotReady:
                std::snprintf(text, sizeof text, "Not ready");
                break;
            case Line::TookTooLong:
                std::snprintf(text, sizeof text,
                              "WARNING: PROCESSING TOOK TOO LONG: Took %f, max was %f", a, b);
                break;
            case Line::PercentNeeded:
                std::snprintf(text, sizeof text, "%f percent needed", a);
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
