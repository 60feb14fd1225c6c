#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

#include "MonitorApp/ATAudio/RingIndices.h"
#include "MonitorApp/ATAudio/RingLog.h"

namespace quenbril {

/// What the non-interleaved float rings share: up to `MaxChannels` rows of samples, the positions
/// over them, the reader's filling state and the log. The derived ring decides when the reader
/// fills and how it consumes.
///
/// One writer and one reader, possibly on different threads (an audio thread among them): neither
/// locks, allocates or prints. Log lines are counted in log() and printed by its flush().
template <int MaxChannels>
class FloatRing {
  public:
    static constexpr int kMaxChannels = MaxChannels;

    FloatRing(const FloatRing&) = delete;
    FloatRing& operator=(const FloatRing&) = delete;

    /// kMaxChannels channel pointers; the slots from channels() on are null.
    float* const* data() const { return data_; }
    int bufferLen() const { return indices_.length(); }
    int channels() const { return channels_; }
    int bufferStart() const { return indices_.startSlot(); }
    int bufferEnd() const { return indices_.endSlot(); }
    bool isFilling() const { return filling_.load(std::memory_order_relaxed); }

    /// Frames held, 0 to bufferLen() - 1.
    int dataInBuffer() const { return indices_.held(); }

    /// Reader: takes up to `wanted` frames without copying: stores the count, the slot they start
    /// at and bufferLen(); the caller reads them in place, wrapping at bufferLen(), before the
    /// writer can reach them.
    float* const* consume2(int wanted, int* gotLen, int* start, int* bufSize) {
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

    /// Writer's thread (or with no writer running): zeroes every sample and empties the ring;
    /// bufferStart() and bufferEnd() read 0.
    void reset() {
        indices_.reset([this] {
            const int length = indices_.length();
            for (int ch = 0; ch < channels_; ++ch) {
                for (int i = 0; i < length; ++i) storeSample(data_[ch] + i, 0.0f);
            }
        });
    }

    RingLog& log() { return log_; }

  protected:
    /// A read whose frames the writer keeps overwriting is tried this many times, then given up
    /// for silence: the audio thread never spins for long.
    static constexpr int kReadAttempts = 4;

    /// `channels` (0 to MaxChannels) rows of `length` (at least 1) zero samples: the caller clamps.
    FloatRing(int channels, int length, bool filling)
        : channels_(channels), indices_(length), filling_(filling) {
        const size_t row = static_cast<size_t>(indices_.length());
        storage_ = std::make_unique<float[]>(row * static_cast<size_t>(channels_));
        for (int ch = 0; ch < channels_; ++ch) data_[ch] = storage_.get() + row * ch;
    }
    ~FloatRing() = default;

    /// Writer: appends `len` frames of the first `channelsUsed` channels (clamped to channels());
    /// false, with nothing written, when there is nothing to append.
    bool append(const float* const* source, int len, int channelsUsed) {
        const int used = std::clamp(channelsUsed, 0, channels_);
        if (!source || len <= 0 || used == 0) return false;
        const uint64_t first = indices_.beginWrite(static_cast<uint64_t>(len));
        copyIntoRing(source, used, indices_.slot(first), indices_.length(), len, data_);
        indices_.endWrite(first + static_cast<uint64_t>(len));
        return true;
    }

    /// Reader, after kReadAttempts torn copies: whatever was copied may be torn, so `wanted`
    /// frames of silence go to the first `channels` destinations.
    void giveUpTornRead(float* const* destination, int channels, int wanted, int* gotLen) {
        zeroFrames(destination, channels, wanted);
        log_.note(RingLog::Line::ReadOverrun);
        if (gotLen) *gotLen = 0;
    }

    float* data_[MaxChannels] = {};
    std::unique_ptr<float[]> storage_;
    int channels_;
    RingIndices indices_;
    std::atomic<bool> filling_;
    RingLog log_;
};

}  // namespace quenbril
