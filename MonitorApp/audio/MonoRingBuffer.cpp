#include "MonitorApp/audio/MonoRingBuffer.h"

#include <algorithm>

namespace quenbril {

namespace {

constexpr int kReadAttempts = 4;

}  // namespace

MonoRingBuffer::MonoRingBuffer(int bufferLen) : indices_(std::max(bufferLen, 1)) {
    data_ = std::make_unique<float[]>(static_cast<size_t>(indices_.length()));
}

void MonoRingBuffer::produce(const float* source, int len) {
    if (!source || len <= 0) return;
    const uint64_t first = indices_.beginWrite(static_cast<uint64_t>(len));
    float* ring[1] = {data_.get()};
    copyIntoRing(&source, 1, indices_.slot(first), indices_.length(), len, ring);
    indices_.endWrite(first + static_cast<uint64_t>(len));
}

void MonoRingBuffer::consume(float* destination, int wanted, int* gotLen) {
    wanted = std::max(wanted, 0);
    float* out[1] = {destination};
    const float* ring[1] = {data_.get()};
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const RingIndices::Snapshot now = indices_.snapshot();
        if (!now.consistent) continue;
        const uint64_t held = now.held();
        int got = 0;
        if (held >= static_cast<uint64_t>(wanted)) {
            copyFromRing(ring, 1, indices_.slot(now.start), indices_.length(), wanted, out);
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
    zeroFrames(out, 1, wanted);
    log_.note(RingLog::Line::ReadOverrun);
    if (gotLen) *gotLen = 0;
}

void MonoRingBuffer::reset() {
    indices_.reset([this] {
        for (int i = 0; i < indices_.length(); ++i) storeSample(data_.get() + i, 0.0f);
    });
}

}  // namespace quenbril
