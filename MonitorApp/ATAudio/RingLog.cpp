#include "MonitorApp/ATAudio/RingLog.h"

#include <cstdio>

namespace quenbril {

void RingLog::flush() {
    lines_.flush([](Line line, int a, int b, char* text, size_t size) {
        switch (line) {
            case Line::RingFilling:
                std::snprintf(text, size,
                              "RING: Not enough data in buffer, got only %d %d chans - FILLING", a,
                              b);
                break;
            case Line::NotEnoughData:
                std::snprintf(text, size, "Not enough data in buffer, got only %d %d chans", a, b);
                break;
            case Line::NotEnoughInPlace:
                std::snprintf(text, size, "Not enough data in buffer, got only %d", a);
                break;
            case Line::TooFullReset:
                std::snprintf(text, size, "Buffer is too full...reset");
                break;
            case Line::ContinuePlaying:
                std::snprintf(text, size, "Buffer has now %d blocks, continue", a);
                break;
            case Line::StreamEmpty:
                std::snprintf(text, size, "Stream buffer empty, start filling!");
                break;
            case Line::ReadOverrun:
                std::snprintf(text, size,
                              "Ring read given up: the writer overwrote the frames being read");
                break;
        }
    });
}

}  // namespace quenbril
