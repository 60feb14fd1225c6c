#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "MonitorApp/ATAudio/StreamRingBuffer.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// Plays float32 audio pushed into it (one or two channels) on the default output device, with
/// a jitter buffer between the producer and the output: nothing plays until more than the
/// ring's target fill (1.5 s, 72000 frames at 48 kHz) is held.
///
/// The output runs 512-frame periods with about six in flight. Control calls on the main
/// thread; the fill operations on the producer's thread (the ring's one writer).
class AudioQueuePlayer : private AudioStreamClient {
  public:
    static constexpr int kRingFrames = 240000;
    static constexpr int kBufferFrames = 512;
    static constexpr int kBuffersInFlight = 6;

    explicit AudioQueuePlayer(AudioBackend& backend = AudioBackend::shared());
    ~AudioQueuePlayer() override;
    AudioQueuePlayer(const AudioQueuePlayer&) = delete;
    AudioQueuePlayer& operator=(const AudioQueuePlayer&) = delete;

    static AudioQueuePlayer& sharedInstance();

    /// A change of rate or channel count disposes of the output; the next start makes it anew.
    void setSampleRate(float sampleRate);
    float sampleRate() const { return sampleRate_; }
    void setChannels(int channels);
    int channels() const { return channels_; }
    void setBufferDuration(float seconds);
    float getBufferDuration() const { return bRing_.bufferDur(); }

    /// `len` bytes of each channel.
    void fillStereoBuffer(const float* left, const float* right, uint32_t len);
    /// `len` bytes of one channel; with two channels it feeds both.
    void fillBuffer(const float* buffer, uint32_t len, int64_t packetIndex);
    /// Frames held.
    int bufSize() const { return bRing_.dataInBuffer(); }
    /// True once the ring has gathered its cushion and plays.
    bool isPlaying() const { return !bRing_.isFilling(); }
    /// True while an output exists.
    bool isInitialized() const { return stream_ != nullptr; }

    void startPlaying();
    void stopPlaying();
    void destroy();

    float gain() const { return gain_; }
    void setGain(float gain) { gain_ = gain; }
    /// Frames pushed through fillBuffer within the current whole second of the clock.
    int32_t sampleCounter() const { return sampleCounter_; }

  private:
    void process(const float* const* inputs, float* const* outputs, int frames,
                 bool underrun) override;

    AudioBackend& backend_;
    std::unique_ptr<AudioStream> stream_;
    StreamRingBuffer bRing_{2, kRingFrames};
    int32_t sampleCounter_ = 0;
    int64_t lastSeconds_ = 0;
    std::array<std::array<float, kBufferFrames>, 2> playBuffer_{};
    float gain_ = 1.0f;
    float sampleRate_ = 48000.0f;
    int channels_ = 2;
    std::atomic<int> streamChannels_{0};
};

}  // namespace quenbril
