#include "MonitorApp/ATAudio/StreamRingBuffer.h"

#include <algorithm>
#include <cmath>

#include "foundation/Log.h"

namespace quenbril {

StreamRingBuffer::StreamRingBuffer(int channels, int bufferLen)
    : FloatRing(std::clamp(channels, 0, kMaxChannels), std::max(bufferLen, 1), true) {
    if (channels != channels_ || bufferLen < 1) {
        QLOG("Stream ring: %d channels of %d frames asked for, using %d of %d", channels, bufferLen,
             channels_, indices_.length());
    }
}

int StreamRingBuffer::targetFill() const {
    const double target = static_cast<double>(sampleRate()) * static_cast<double>(bufferDur());
    // A nonsense rate or duration must not turn into an undefined conversion.
    if (!(target > 0.0)) return 0;
    return target >= 1e9 ? 1000000000 : static_cast<int>(target);
}

void StreamRingBuffer::produce(const float* const* source, int len, int channelsUsed) {
    if (!append(source, len, channelsUsed)) return;
    const int64_t target = targetFill();
    int held = indices_.held();
    if (held > 2 * target) {
        log_.note(RingLog::Line::TooFullReset);
        reset();
        held = 0;
    }
    if (held > target && filling_.load(std::memory_order_relaxed)) {
        log_.note(RingLog::Line::ContinuePlaying, held);
        filling_.store(false, std::memory_order_relaxed);
    }
}

void StreamRingBuffer::consume(float* const* destination, int wanted, int* gotLen, int channels) {
    const int length = indices_.length();
    wanted = std::max(wanted, 0);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const RingIndices::Snapshot now = indices_.snapshot();
        if (!now.consistent) continue;
        const uint64_t held = now.held();
        if (held == 0 || filling_.load(std::memory_order_relaxed)) {
            log_.note(RingLog::Line::StreamEmpty);
            filling_.store(true, std::memory_order_relaxed);
            zeroFrames(destination, std::clamp(channels, 0, kMaxChannels), wanted);
            if (gotLen) *gotLen = 0;
            return;
        }
        const int got = static_cast<int>(std::min<uint64_t>(held, static_cast<uint64_t>(wanted)));
        copyFromRing(data_, std::clamp(channels, 0, channels_), indices_.slot(now.start), length,
                     got, destination);
        if (!indices_.advanceStart(now.start, now.start + static_cast<uint64_t>(got))) continue;
        if (got < wanted) {
            log_.note(RingLog::Line::NotEnoughData, static_cast<int>(held), channels_);
        }
        if (gotLen) *gotLen = got;
        return;
    }
    giveUpTornRead(destination, std::clamp(channels, 0, kMaxChannels), wanted, gotLen);
}

void StreamRingBuffer::reset() {
    FloatRing::reset();
    filling_.store(true, std::memory_order_relaxed);
}

}  // namespace quenbril
