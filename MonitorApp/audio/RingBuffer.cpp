#include "MonitorApp/audio/RingBuffer.h"

#include <algorithm>

#include "foundation/Log.h"

namespace quenbril {

namespace {

// A read whose frames the writer keeps overwriting is tried this many times, then given up for
// silence: the audio thread never spins for long.
constexpr int kReadAttempts = 4;

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
    : channels_(clampedChannels(channels, kMaxChannels)), indices_(clampedLength(bufferLen)) {
    const size_t row = static_cast<size_t>(indices_.length());
    storage_ = std::make_unique<float[]>(row * static_cast<size_t>(channels_));
    for (int ch = 0; ch < channels_; ++ch) data_[ch] = storage_.get() + row * ch;
}

void RingBuffer::produce(const float* const* source, int len, int channelsUsed) {
    const int used = std::clamp(channelsUsed, 0, channels_);
    if (!source || len <= 0 || used == 0) return;
    const uint64_t first = indices_.beginWrite(static_cast<uint64_t>(len));
    copyIntoRing(source, used, indices_.slot(first), indices_.length(), len, data_);
    indices_.endWrite(first + static_cast<uint64_t>(len));
}

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
            log_.note(RingLog::Line::RingFilling, static_cast<int>(held), channels_);
            filling_.store(true, std::memory_order_relaxed);
        }
        if (gotLen) *gotLen = got;
        return;
    }
    // Whatever was copied may be torn: hand out silence.
    zeroFrames(destination, used, wanted);
    log_.note(RingLog::Line::ReadOverrun);
    if (gotLen) *gotLen = 0;
}

float* const* RingBuffer::consume2(int wanted, int* gotLen, int* start, int* bufSize) {
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

void RingBuffer::reset() {
    indices_.reset([this] {
        const int length = indices_.length();
        for (int ch = 0; ch < channels_; ++ch) {
            for (int i = 0; i < length; ++i) storeSample(data_[ch] + i, 0.0f);
        }
    });
}

}  // namespace quenbril
