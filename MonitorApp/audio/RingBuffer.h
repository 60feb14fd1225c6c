#pragma once

#include <atomic>
#include <memory>

#include "MonitorApp/audio/RingIndices.h"
#include "MonitorApp/audio/RingLog.h"

namespace quenbril {

/// Non-interleaved float audio between one writer and one reader, up to 128 channels, without a
/// lock. A writer that outruns the reader drops the oldest frames. The reader has two states:
/// flowing (as made) and filling, entered by a read that finds fewer frames than it wants and left
/// by a read that finds more than bufferLen() / 2.1 frames; while filling, reads take nothing. A
/// read that finds more than 0.9 x bufferLen() frames first drops the oldest half of the ring,
/// which caps the latency.
///
/// The writer and the reader may run on different threads (an audio thread among them): neither
/// locks, allocates or prints. Log lines are counted in log() and printed by its flush().
class RingBuffer {
  public:
    static constexpr int kMaxChannels = 128;

    /// `channels` arrays (0 to 128) of `bufferLen` zero samples (at least 1); values outside those
    /// ranges are clamped, with a log line.
    RingBuffer(int channels, int bufferLen);
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    /// 128 channel pointers; the slots from channels() on are null.
    float* const* data() const { return data_; }
    int bufferLen() const { return indices_.length(); }
    int channels() const { return channels_; }
    int bufferStart() const { return indices_.startSlot(); }
    int bufferEnd() const { return indices_.endSlot(); }
    bool isFilling() const { return filling_.load(std::memory_order_relaxed); }

    /// Frames held, 0 to bufferLen() - 1.
    int dataInBuffer() const { return indices_.held(); }

    /// Writer: appends `len` frames of each of the first `channelsUsed` channels (clamped to
    /// channels()); nothing happens when `channelsUsed` is 0.
    void produce(const float* const* source, int len, int channelsUsed);

    /// Reader: copies `wanted` frames of each of the first `channels` channels and stores `wanted`
    /// in the count, or copies nothing and stores 0 (while filling, or when fewer are held, which
    /// starts filling).
    void consume(float* const* destination, int wanted, int* gotLen, int channels);

    /// Reader: takes up to `wanted` frames without copying: stores the count, the slot they start
    /// at and bufferLen(); the caller reads them in place, wrapping at bufferLen(), before the
    /// writer can reach them.
    float* const* consume2(int wanted, int* gotLen, int* start, int* bufSize);

    /// Writer's thread (or with no writer running): zeroes every sample and empties the ring;
    /// bufferStart() and bufferEnd() read 0.
    void reset();

    RingLog& log() { return log_; }

  private:
    float* data_[kMaxChannels] = {};
    std::unique_ptr<float[]> storage_;
    int channels_;
    RingIndices indices_;
    std::atomic<bool> filling_{false};
    RingLog log_;
};

}  // namespace quenbril
