#pragma once

#include <cstdint>

#include "MonitorApp/ATAudio/CountedLines.h"

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
    void note(Line line, int a = 0, int b = 0) { lines_.note(line, a, b); }
    /// Lines of this kind counted since the last flush.
    uint32_t pending(Line line) const { return lines_.pending(line); }
    /// Main thread: prints each kind of line counted since the last flush once, with the figures
    /// of the latest and the number of times it occurred when more than once.
    void flush();

  private:
    CountedLines<Line, kLineCount, int> lines_;
};

}  // namespace quenbril
