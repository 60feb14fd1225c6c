#include "MonitorApp/ATAudio/ATAudioFFT.h"

#include <kiss_fftr.h>

#include <bit>
#include <cmath>
#include <vector>

namespace quenbril {

/// Forward and inverse plans for every power-of-two size from 2 up to the maximum, indexed by
/// log2 of the size, and the half spectrum they work in.
struct ATAudioFFTSetup {
    std::vector<kiss_fftr_cfg> forward;
    std::vector<kiss_fftr_cfg> inverse;
    std::vector<kiss_fft_cpx> spectrum;

    ~ATAudioFFTSetup() {
        for (kiss_fftr_cfg plan : forward) kiss_fftr_free(plan);
        for (kiss_fftr_cfg plan : inverse) kiss_fftr_free(plan);
    }
};

ATAudioFFT::ATAudioFFT(uint64_t maximumBufferSize, float sampleRate, ATAudioFFTDelegate* delegate)
    : sampleRate_(sampleRate), delegate_(delegate), maximumBufferSize_(maximumBufferSize) {
    setup();
}

ATAudioFFT::~ATAudioFFT() { delete info_->fftSetup; }

std::unique_ptr<ATAudioFFT> ATAudioFFT::fftWithMaximumBufferSize(uint64_t maximumBufferSize,
                                                                 float sampleRate,
                                                                 ATAudioFFTDelegate* delegate) {
    return std::make_unique<ATAudioFFT>(maximumBufferSize, sampleRate, delegate);
}

void ATAudioFFT::setup() {
    info_ = std::make_unique<ATAudioFFTInfo>();
    const uint64_t M = maximumBufferSize_;
    auto* plans = new ATAudioFFTSetup;
    const int log2n = M == 0 ? 0 : std::bit_width(M) - 1;
    plans->forward.assign(static_cast<size_t>(log2n) + 1, nullptr);
    plans->inverse.assign(static_cast<size_t>(log2n) + 1, nullptr);
    for (int k = 1; k <= log2n; ++k) {
        plans->forward[k] = kiss_fftr_alloc(1 << k, 0, nullptr, nullptr);
        plans->inverse[k] = kiss_fftr_alloc(1 << k, 1, nullptr, nullptr);
    }
    plans->spectrum.resize((M >> 1) + 1);
    info_->fftSetup = plans;

    const size_t length = 2 * M;
    info_->storage.assign(5 * length, 0.0f);
    float* base = info_->storage.data();
    info_->complexSplit.realp = base;
    info_->complexSplit.imagp = base + length;
    info_->fftData = base + 2 * length;
    info_->phaseData = base + 3 * length;
    info_->inversedFFTData = base + 4 * length;
}

float* ATAudioFFT::computeFFTWithBuffer(const float* buffer, uint32_t bufferSize) {
    const uint64_t N = bufferSize;
    if (!buffer || N < 2 || N > maximumBufferSize_ || !std::has_single_bit(N)) return nullptr;
    ATAudioFFTInfo& info = *info_;
    ATAudioFFTSetup& plans = *info.fftSetup;
    const int log2n = std::bit_width(N) - 1;
    const uint64_t half = N / 2;
    const float scale = static_cast<float>(10.0 / (2.0 * static_cast<double>(N)));
    float* re = info.complexSplit.realp;
    float* im = info.complexSplit.imagp;
    kiss_fft_cpx* spectrum = plans.spectrum.data();

    // The library gives the plain DFT of N/2 + 1 bins; the packed layout has twice that, with
    // the Nyquist bin's real part in bin 0's imaginary part.
    kiss_fftr(plans.forward[log2n], buffer, spectrum);
    const float twiceScale = 2.0f * scale;
    re[0] = spectrum[0].r * twiceScale;
    im[0] = spectrum[half].r * twiceScale;
    for (uint64_t k = 1; k < half; ++k) {
        re[k] = spectrum[k].r * twiceScale;
        im[k] = spectrum[k].i * twiceScale;
    }

    for (uint64_t k = 0; k < half; ++k) {
        info.fftData[k] = re[k] * re[k] + im[k] * im[k];
        info.phaseData[k] = std::atan2(im[k], re[k]);
    }

    // The inverse of the packed spectrum as it stands: the unnormalised inverse of twice the DFT
    // is 2N times the input, so with the scale above it is 10 times the input.
    spectrum[0] = {re[0], 0.0f};
    spectrum[half] = {im[0], 0.0f};
    for (uint64_t k = 1; k < half; ++k) spectrum[k] = {re[k], im[k]};
    kiss_fftri(plans.inverse[log2n], spectrum, info.inversedFFTData);

    info.fftDataLength = half;
    if (sampleRate_ > 0.0f) {
        uint64_t best = 0;
        for (uint64_t k = 1; k < half; ++k) {
            if (info.fftData[k] > info.fftData[best]) best = k;
        }
        info.maxFrequencyIndex = best;
        info.maxFrequencyMagnitude = info.fftData[best];
        info.maxFrequency = frequencyAtIndex(best);
    }
    if (delegate_) delegate_->fft(*this, info.fftData, half);
    return info.fftData;
}

float ATAudioFFT::frequencyAtIndex(uint64_t index) const {
    if (!info_->fftData || sampleRate_ == 0.0f || info_->fftDataLength == 0) return kNotFound;
    return static_cast<float>(index) / static_cast<float>(info_->fftDataLength) * sampleRate_ /
           2.0f;
}

float ATAudioFFT::frequencyMagnitudeAtIndex(uint64_t index) const {
    if (!info_->fftData || index >= info_->fftDataLength) return kNotFound;
    return info_->fftData[index];
}

}  // namespace quenbril
