#pragma once

#include <cstdint>

namespace quenbril {

class ATAudioFFT;

/// Told of every spectrum, on the thread that computed it.
class ATAudioFFTDelegate {
  public:
    virtual ~ATAudioFFTDelegate() = default;
    /// `fftData` holds the squared magnitudes of `bufferSize` bins.
    virtual void fft(ATAudioFFT& /*fft*/, float* /*fftData*/, uint64_t /*bufferSize*/) {}
};

}  // namespace quenbril
