#pragma once

#include "MonitorApp/ATAudio/FloatRing.h"

namespace quenbril {

/// A one-channel float ring without a filling state: reads are all or nothing. One writer and one
/// reader, possibly on different threads.
class MonoRingBuffer : private FloatRing<1> {
  public:
    /// `bufferLen` zero samples (at least 1).
    explicit MonoRingBuffer(int bufferLen);

    float* data() const { return data_[0]; }
    using FloatRing::bufferEnd;
    using FloatRing::bufferLen;
    using FloatRing::bufferStart;
    /// Always 0: the ring keeps no channel count.
    int channels() const { return 0; }
    bool stereo() const { return stereo_; }
    void setStereo(bool stereo) { stereo_ = stereo; }

    using FloatRing::dataInBuffer;
    /// Writer: appends `len` samples, dropping the oldest when the reader is behind.
    void produce(const float* source, int len);
    /// Reader: copies exactly `wanted` samples and stores `wanted`, or copies nothing and stores 0.
    void consume(float* destination, int wanted, int* gotLen);
    /// Writer's thread (or with no writer running): zeroes the samples and empties the ring.
    using FloatRing::reset;

    using FloatRing::log;

  private:
    bool stereo_ = false;
};

}  // namespace quenbril
