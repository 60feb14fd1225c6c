#include "MonitorApp/ATAudio/ATAudioFFTRolling.h"

#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {

ATAudioFFTRolling::ATAudioFFTRolling(uint64_t windowSize, float sampleRate,
                                     ATAudioFFTDelegate* delegate)
    : ATAudioFFTRolling(windowSize, 8 * windowSize, sampleRate, delegate) {}

ATAudioFFTRolling::ATAudioFFTRolling(uint64_t windowSize, uint64_t historyBufferSize,
                                     float sampleRate, ATAudioFFTDelegate* delegate)
    : ATAudioFFT(historyBufferSize, sampleRate, delegate), windowSize_(windowSize) {
    historyInfo_ = ATAudioUtilities::historyInfoWithDefaultLength(
        static_cast<int>(windowSize), static_cast<int>(historyBufferSize));
}

ATAudioFFTRolling::~ATAudioFFTRolling() {
    ATAudioUtilities::freeHistoryInfo(std::move(historyInfo_));
}

std::unique_ptr<ATAudioFFTRolling> ATAudioFFTRolling::fftWithWindowSize(
    uint64_t windowSize, float sampleRate, ATAudioFFTDelegate* delegate) {
    return std::make_unique<ATAudioFFTRolling>(windowSize, sampleRate, delegate);
}

std::unique_ptr<ATAudioFFTRolling> ATAudioFFTRolling::fftWithWindowSize(
    uint64_t windowSize, uint64_t historyBufferSize, float sampleRate,
    ATAudioFFTDelegate* delegate) {
    return std::make_unique<ATAudioFFTRolling>(windowSize, historyBufferSize, sampleRate, delegate);
}

float* ATAudioFFTRolling::computeFFTWithBuffer(const float* buffer, uint32_t bufferSize) {
    if (!buffer) return nullptr;
    return ATAudioFFT::computeFFTWithBuffer(buffer, bufferSize);
}

float* ATAudioFFTRolling::timeDomainData() const {
    return historyInfo_ ? historyInfo_->buffer.data() : nullptr;
}

int ATAudioFFTRolling::timeDomainBufferSize() const {
    return historyInfo_ ? historyInfo_->bufferSize : 0;
}

}  // namespace quenbril
