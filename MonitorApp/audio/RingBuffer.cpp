#include "MonitorApp/audio/RingBuffer.h"

#include <algorithm>

#include "foundation/Log.h"

namespace quenbril {

namespace {

int clampedChannels(int channels, int most) {
    if (channels < 0 || channels > most) {
        QLOG("Ring buffer: %d channels asked for, using %d", channels,
             std::clamp(channels, 0, most));
    }
    return std::clamp(channels, 0, most);
}

int clampedLength(int bufferLen) {
    if (bufferLen < 1) QLOG("Ring buffer: length %d asked for, using 1", bufferLen);
    return std::max(bufferLen, 1);
}

}  // namespace

RingBuffer::RingBuffer(int channels, int bufferLen)
    : FloatRing(clampedChannels(channels, kMaxChannels), clampedLength(bufferLen), false) {}

void RingBuffer::consume(float* const* destination, int wanted, int* gotLen, int channels) {
    const int length = indices_.length();
    const int used = std::clamp(channels, 0, channels_);
    wanted = std::max(wanted, 0);
    int got = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        RingIndices::Snapshot now = indices_.snapshot();
        if (!now.consistent) continue;
        uint64_t held = now.held();
        if (static_cast<double>(held) > length / 2.1) {
            filling_.store(false, std::memory_order_relaxed);
        } else if (filling_.load(std::memory_order_relaxed)) {
            if (gotLen) *gotLen = 0;
            return;
        }
        // Latency cap: a reader that fell far behind skips the oldest half of the ring.
        if (static_cast<double>(held) > 0.9 * length) {
            const uint64_t skipped = now.start + static_cast<uint64_t>(length / 2);
            if (!indices_.advanceStart(now.start, skipped)) continue;
            now.start = skipped;
            held = now.end - skipped;
        }
        if (held >= static_cast<uint64_t>(wanted)) {
            copyFromRing(data_, used, indices_.slot(now.start), length, wanted, destination);
            // A failed swap means the writer dropped frames under the copy: read again.
            if (!indices_.advanceStart(now.start, now.start + static_cast<uint64_t>(wanted))) {
                continue;
            }
            got = wanted;
        } else {
            // The count tells how many frames were held, although none were copied: the reader
            // learns how short the ring ran. Readers that want the audio look for `wanted`.
            got = static_cast<int>(held);
            log_.note(RingLog::Line::RingFilling, got, channels_);
            filling_.store(true, std::memory_order_relaxed);
        }
        if (gotLen) *gotLen = got;
        return;
    }
    giveUpTornRead(destination, used, wanted, gotLen);
}

}  // namespace quenbril
