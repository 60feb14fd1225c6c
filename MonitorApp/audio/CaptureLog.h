#pragma once

#include <cstdint>

#include "MonitorApp/ATAudio/CountedLines.h"

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
    void note(Line line, double a = 0, double b = 0) { lines_.note(line, a, b); }
    /// Lines of this kind counted since the last flush.
    uint32_t pending(Line line) const { return lines_.pending(line); }
    /// Main thread: prints each kind of line counted since the last flush once, with the figures
    /// of the latest and the number of times it occurred when more than once.
    void flush();

  private:
    CountedLines<Line, kLineCount, double> lines_;
};

}  // namespace quenbril
