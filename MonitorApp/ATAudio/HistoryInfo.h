#pragma once

#include <cstdint>
#include <vector>

#include "MonitorApp/ATAudio/VMCircularBuffer.h"

namespace quenbril {

/// The rolling history of a waveform plot: the newest values are kept in a ring of floats, and
/// `buffer` holds the `bufferSize` values the plot shows. Made and changed by ATAudioUtilities.
struct HistoryInfo {
    /// The maximum length of floats; the first `bufferSize` are shown.
    std::vector<float> buffer;
    /// The number of values shown, at most buffer.size().
    int32_t bufferSize = 0;
    VMCircularBuffer circularBuffer;

    HistoryInfo() = default;
    HistoryInfo(const HistoryInfo&) = delete;
    HistoryInfo& operator=(const HistoryInfo&) = delete;
    ~HistoryInfo() { VMCircularBufferCleanup(&circularBuffer); }
};

}  // namespace quenbril
