#include "MonitorApp/audio/CaptureLog.h"

#include <cstdio>

namespace quenbril {

void CaptureLog::flush() {
    lines_.flush([](Line line, double a, double b, char* text, size_t size) {
        switch (line) {
            case Line::WrongChannelCount:
                std::snprintf(text, size, "Got %d channels...should've got %d", static_cast<int>(a),
                              static_cast<int>(b));
                break;
            case Line::NotReady:
                std::snprintf(text, size, "Not ready");
                break;
            case Line::TookTooLong:
                std::snprintf(text, size, "WARNING: PROCESSING TOOK TOO LONG: Took %f, max was %f",
                              a, b);
                break;
            case Line::PercentNeeded:
                std::snprintf(text, size, "%f percent needed", a);
                break;
        }
    });
}

}  // namespace quenbril
