#pragma once

#include <atomic>

#include "MonitorApp/ATAudio/FloatRing.h"

namespace quenbril {

/// A stereo ring for a player that should start with a cushion of audio: it starts filling, the
/// writer lets it play once more than the target fill T = trunc(sampleRate() x bufferDur()) frames
/// are held, and resets it (empty, filling) when more than 2 x T are held. A read of an empty ring,
/// or of one still filling, hands out silence and (re)starts filling.
class StreamRingBuffer : public FloatRing<2> {
  public:
    /// `channels` arrays (0 to 2) of `bufferLen` zero samples (at least 1).
    StreamRingBuffer(int channels, int bufferLen);

    /// Hz; 48000 when made.
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    void setSampleRate(float rate) { sampleRate_.store(rate, std::memory_order_relaxed); }
    /// Seconds of audio to gather before playing; 1.5 when made.
    float bufferDur() const { return bufferDur_.load(std::memory_order_relaxed); }
    void setBufferDur(float seconds) { bufferDur_.store(seconds, std::memory_order_relaxed); }
    /// The target fill T in frames.
    int targetFill() const;

    /// Writer: appends `len` frames of the first `channelsUsed` channels, then applies the fill
    /// rules (reset above 2 x T; leave filling above T).
    void produce(const float* const* source, int len, int channelsUsed);

    /// Reader: while filling or empty, writes `wanted` zero samples into the first `channels`
    /// destinations (at most 2), stores 0 and starts filling. Otherwise copies up to `wanted`
    /// frames (fewer when fewer are held) and stores how many.
    void consume(float* const* destination, int wanted, int* gotLen, int channels);

    /// Writer's thread (or with no writer running): zeroes the samples, empties the ring and sets
    /// filling.
    void reset();

  private:
    std::atomic<float> sampleRate_{48000.0f};
    std::atomic<float> bufferDur_{1.5f};
};

}  // namespace quenbril
