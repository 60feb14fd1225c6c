#pragma once

#include <cstdint>
#include <vector>

namespace quenbril {

/// The transform's plans, one per power-of-two size up to the maximum; defined where the
/// transform is, so the FFT library stays out of the headers.
struct ATAudioFFTSetup;

/// Half a spectrum as two arrays: real parts and imaginary parts.
struct ATDSPSplitComplex {
    float* realp = nullptr;
    float* imagp = nullptr;
};

/// The working record of a spectrum analysis, made whole when the analyser is set up so that a
/// transform allocates nothing.
struct ATAudioFFTInfo {
    ATAudioFFTSetup* fftSetup = nullptr;
    ATDSPSplitComplex complexSplit;
    /// The squared magnitude of each bin.
    float* fftData = nullptr;
    /// The phase of each bin, in radians.
    float* phaseData = nullptr;
    uint64_t fftDataLength = 0;
    float* inversedFFTData = nullptr;
    uint64_t maxFrequencyIndex = 0;
    float maxFrequencyMagnitude = 0.0f;
    float maxFrequency = 0.0f;

    /// The five arrays of 2 x the maximum size each, in one allocation.
    std::vector<float> storage;
};

}  // namespace quenbril
