#pragma once

#include <memory>

#include "MonitorApp/ATAudio/ATAudioFFT.h"
#include "MonitorApp/ATAudio/HistoryInfo.h"

namespace quenbril {

/// A spectrum analyser sized for a rolling window: set up for the history's size, with a history
/// record for time-domain data beside it.
class ATAudioFFTRolling : public ATAudioFFT {
  public:
    /// A history of 8 x the window.
    ATAudioFFTRolling(uint64_t windowSize, float sampleRate,
                      ATAudioFFTDelegate* delegate = nullptr);
    ATAudioFFTRolling(uint64_t windowSize, uint64_t historyBufferSize, float sampleRate,
                      ATAudioFFTDelegate* delegate = nullptr);
    ~ATAudioFFTRolling() override;

    static std::unique_ptr<ATAudioFFTRolling> fftWithWindowSize(
        uint64_t windowSize, float sampleRate, ATAudioFFTDelegate* delegate = nullptr);
    static std::unique_ptr<ATAudioFFTRolling> fftWithWindowSize(
        uint64_t windowSize, uint64_t historyBufferSize, float sampleRate,
        ATAudioFFTDelegate* delegate = nullptr);

    /// The base transform of the block; the history is not changed.
    float* computeFFTWithBuffer(const float* buffer, uint32_t bufferSize) override;

    uint64_t windowSize() const { return windowSize_; }
    /// The history's shown values, or null when the history could not be made.
    float* timeDomainData() const;
    int timeDomainBufferSize() const;
    HistoryInfo* historyInfo() const { return historyInfo_.get(); }

  private:
    uint64_t windowSize_ = 0;
    std::unique_ptr<HistoryInfo> historyInfo_;
};

}  // namespace quenbril
