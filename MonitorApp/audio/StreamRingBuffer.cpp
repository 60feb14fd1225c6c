#include "MonitorApp/audio/StreamRingBuffer.h"

#include <algorithm>
#include <cmath>

#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr int kReadAttempts = 4;

}  // namespace

StreamRingBuffer::StreamRingBuffer(int channels, int bufferLen)
    : channels_(std::clamp(channels, 0, kMaxChannels)), indices_(std::max(bufferLen, 1)) {
    if (channels != channels_ || bufferLen < 1) {
        QLOG("Stream ring: %d channels of %d frames asked for, using %d of %d", channels, bufferLen,
             channels_, indices_.length());
    }
    const size_t row = static_cast<size_t>(indices_.length());
    storage_ = std::make_unique<float[]>(row * static_cast<size_t>(channels_));
    for (int ch = 0; ch < channels_; ++ch) data_[ch] = storage_.get() + row * ch;
}

int StreamRingBuffer::targetFill() const {
    const double target = static_cast<double>(sampleRate()) * static_cast<double>(bufferDur());
    // A nonsense rate or duration must not turn into an undefined conversion.
    if (!(target > 0.0)) return 0;
    return target >= 1e9 ? 1000000000 : static_cast<int>(target);
}

void StreamRingBuffer::produce(const float* const* source, int len, int channelsUsed) {
    const int used = std::clamp(channelsUsed, 0, channels_);
    if (!source || len <= 0 || used == 0) return;
    const uint64_t first = indices_.beginWrite(static_cast<uint64_t>(len));
    copyIntoRing(source, used, indices_.slot(first), indices_.length(), len, data_);
    indices_.endWrite(first + static_cast<uint64_t>(len));

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
    zeroFrames(destination, std::clamp(channels, 0, kMaxChannels), wanted);
    log_.note(RingLog::Line::ReadOverrun);
    if (gotLen) *gotLen = 0;
}

float* const* StreamRingBuffer::consume2(int wanted, int* gotLen, int* start, int* bufSize) {
    wanted = std::max(wanted, 0);
    int got = 0;
    int from = indices_.startSlot();
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const RingIndices::Snapshot now = indices_.snapshot();
        if (!now.consistent) continue;
        const uint64_t held = now.held();
        const uint64_t take = std::min<uint64_t>(held, static_cast<uint64_t>(wanted));
        if (!indices_.advanceStart(now.start, now.start + take)) continue;
        if (held < static_cast<uint64_t>(wanted)) {
            log_.note(RingLog::Line::NotEnoughInPlace, static_cast<int>(held));
        }
        got = static_cast<int>(take);
        from = indices_.slot(now.start);
        break;
    }
    if (gotLen) *gotLen = got;
    if (start) *start = from;
    if (bufSize) *bufSize = indices_.length();
    return data_;
}

void StreamRingBuffer::reset() {
    indices_.reset([this] {
        const int length = indices_.length();
        for (int ch = 0; ch < channels_; ++ch) {
            for (int i = 0; i < length; ++i) storeSample(data_[ch] + i, 0.0f);
        }
    });
    filling_.store(true, std::memory_order_relaxed);
}

}  // namespace quenbril
