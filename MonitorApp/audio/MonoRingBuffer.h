#pragma once

#include <memory>

#include "MonitorApp/audio/RingIndices.h"
#include "MonitorApp/audio/RingLog.h"

namespace quenbril {

/// A one-channel float ring without a filling state: reads are all or nothing. One writer and one
/// reader, possibly on different threads.
class MonoRingBuffer {
  public:
    /// `bufferLen` zero samples (at least 1).
    explicit MonoRingBuffer(int bufferLen);
    MonoRingBuffer(const MonoRingBuffer&) = delete;
    MonoRingBuffer& operator=(const MonoRingBuffer&) = delete;

    float* data() const { return data_.get(); }
    int bufferLen() const { return indices_.length(); }
    /// Always 0: the ring keeps no channel count.
    int channels() const { return 0; }
    int bufferStart() const { return indices_.startSlot(); }
    int bufferEnd() const { return indices_.endSlot(); }
    bool stereo() const { return stereo_; }
    void setStereo(bool stereo) { stereo_ = stereo; }

    int dataInBuffer() const { return indices_.held(); }
    /// Writer: appends `len` samples, dropping the oldest when the reader is behind.
    void produce(const float* source, int len);
    /// Reader: copies exactly `wanted` samples and stores `wanted`, or copies nothing and stores 0.
    void consume(float* destination, int wanted, int* gotLen);
    /// Writer's thread (or with no writer running): zeroes the samples and empties the ring.
    void reset();

    RingLog& log() { return log_; }

  private:
    std::unique_ptr<float[]> data_;
    RingIndices indices_;
    bool stereo_ = false;
    RingLog log_;
};

}  // namespace quenbril
