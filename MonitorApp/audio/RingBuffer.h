#pragma once

#include "MonitorApp/ATAudio/FloatRing.h"

namespace quenbril {

/// Non-interleaved float audio between one writer and one reader, up to 128 channels, without a
/// lock. A writer that outruns the reader drops the oldest frames. The reader has two states:
/// flowing (as made) and filling, entered by a read that finds fewer frames than it wants and left
/// by a read that finds more than bufferLen() / 2.1 frames; while filling, reads take nothing. A
/// read that finds more than 0.9 x bufferLen() frames first drops the oldest half of the ring,
/// which caps the latency.
class RingBuffer : public FloatRing<128> {
  public:
    /// `channels` arrays (0 to 128) of `bufferLen` zero samples (at least 1); values outside those
    /// ranges are clamped, with a log line.
    RingBuffer(int channels, int bufferLen);

    /// Writer: appends `len` frames of each of the first `channelsUsed` channels (clamped to
    /// channels()); nothing happens when `channelsUsed` is 0.
    void produce(const float* const* source, int len, int channelsUsed) {
        append(source, len, channelsUsed);
    }

    /// Reader: copies `wanted` frames of each of the first `channels` channels and stores `wanted`
    /// in the count. When fewer are held it copies nothing, stores the number held and starts
    /// filling; while filling it copies nothing and stores 0. So only a count equal to `wanted`
    /// means the destinations were written.
    void consume(float* const* destination, int wanted, int* gotLen, int channels);
};

}  // namespace quenbril
