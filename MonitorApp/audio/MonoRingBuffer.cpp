#include "MonitorApp/audio/MonoRingBuffer.h"

#include <algorithm>

namespace quenbril {

MonoRingBuffer::MonoRingBuffer(int bufferLen) : FloatRing(1, std::max(bufferLen, 1), false) {}

void MonoRingBuffer::produce(const float* source, int len) {
    if (!source) return;
    append(&source, len, 1);
}

void MonoRingBuffer::consume(float* destination, int wanted, int* gotLen) {
    wanted = std::max(wanted, 0);
    float* out[1] = {destination};
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const RingIndices::Snapshot now = indices_.snapshot();
        if (!now.consistent) continue;
        const uint64_t held = now.held();
        int got = 0;
        if (held >= static_cast<uint64_t>(wanted)) {
            copyFromRing(data_, 1, indices_.slot(now.start), indices_.length(), wanted, out);
            if (!indices_.advanceStart(now.start, now.start + static_cast<uint64_t>(wanted))) {
                continue;
            }
            got = wanted;
        } else {
            log_.note(RingLog::Line::NotEnoughData, static_cast<int>(held), 0);
        }
        if (gotLen) *gotLen = got;
        return;
    }
    giveUpTornRead(out, 1, wanted, gotLen);
}

}  // namespace quenbril
