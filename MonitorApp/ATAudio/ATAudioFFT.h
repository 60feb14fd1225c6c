#pragma once

#include <cstdint>
#include <memory>

#include "MonitorApp/ATAudio/ATAudioFFTDelegate.h"
#include "MonitorApp/ATAudio/ATAudioFFTInfo.h"

namespace quenbril {

/// The spectrum of blocks of float32 samples: squared magnitudes and phases per bin, the inverse
/// transform and the strongest bin with its frequency.
///
/// The spectrum keeps the classic packed layout of a real transform: bin 0 holds the DC term in
/// its real part and the Nyquist term in its imaginary part. The forward transform gives twice the
/// DFT, scaled by 10 / (2N); the inverse of that spectrum is 10 times the input.
///
/// Everything is allocated when the object is made; a transform allocates nothing, so it may run
/// on an audio thread. One thread computes at a time.
class ATAudioFFT {
  public:
    /// What a look-up answers when there is nothing to find: the largest signed 64-bit integer
    /// as a float, 2^63.
    static constexpr float kNotFound = 9223372036854775808.0f;

    ATAudioFFT(uint64_t maximumBufferSize, float sampleRate,
               ATAudioFFTDelegate* delegate = nullptr);
    virtual ~ATAudioFFT();
    ATAudioFFT(const ATAudioFFT&) = delete;
    ATAudioFFT& operator=(const ATAudioFFT&) = delete;

    static std::unique_ptr<ATAudioFFT> fftWithMaximumBufferSize(
        uint64_t maximumBufferSize, float sampleRate, ATAudioFFTDelegate* delegate = nullptr);

    /// The squared magnitudes of `bufferSize` / 2 bins, valid until the next transform. Null, with
    /// nothing changed and the delegate not called, for no buffer or a size that is not a power
    /// of two from 2 to maximumBufferSize().
    virtual float* computeFFTWithBuffer(const float* buffer, uint32_t bufferSize);

    /// bin / fftDataLength x sampleRate / 2, or kNotFound with no sample rate or no transform yet.
    float frequencyAtIndex(uint64_t index) const;
    /// The squared magnitude of a bin of the last transform, or kNotFound past its bins.
    float frequencyMagnitudeAtIndex(uint64_t index) const;

    const ATDSPSplitComplex& complexSplit() const { return info_->complexSplit; }
    float* fftData() const { return info_->fftData; }
    ATAudioFFTSetup* fftSetup() const { return info_->fftSetup; }
    float* phaseData() const { return info_->phaseData; }
    uint64_t fftDataLength() const { return info_->fftDataLength; }
    float* inversedFFTData() const { return info_->inversedFFTData; }
    uint64_t maxFrequencyIndex() const { return info_->maxFrequencyIndex; }
    float maxFrequencyMagnitude() const { return info_->maxFrequencyMagnitude; }
    float maxFrequency() const { return info_->maxFrequency; }

    const ATAudioFFTInfo& info() const { return *info_; }
    ATAudioFFTDelegate* delegate() const { return delegate_; }
    void setDelegate(ATAudioFFTDelegate* delegate) { delegate_ = delegate; }
    uint64_t maximumBufferSize() const { return maximumBufferSize_; }
    float sampleRate() const { return sampleRate_; }
    void setSampleRate(float sampleRate) { sampleRate_ = sampleRate; }

  private:
    void setup();

    float sampleRate_ = 0.0f;
    std::unique_ptr<ATAudioFFTInfo> info_;
    ATAudioFFTDelegate* delegate_ = nullptr;
    uint64_t maximumBufferSize_ = 0;
};

}  // namespace quenbril
