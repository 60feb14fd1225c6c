#include "MonitorApp/ATAudio/ATAudioFloatData.h"

#include <algorithm>

namespace quenbril {

std::shared_ptr<ATAudioFloatData> ATAudioFloatData::dataWithNumberOfChannels(
    int numberOfChannels, const float* const* buffers, uint32_t bufferSize) {
    return std::shared_ptr<ATAudioFloatData>(
        new ATAudioFloatData(numberOfChannels, buffers, bufferSize));
}

ATAudioFloatData::ATAudioFloatData(int numberOfChannels, const float* const* buffers,
                                   uint32_t bufferSize)
    : bufferSize_(bufferSize) {
    const int count = std::max(numberOfChannels, 0);
    channels_.resize(static_cast<size_t>(count));
    pointers_.resize(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c) {
        std::vector<float>& channel = channels_[static_cast<size_t>(c)];
        if (buffers && buffers[c]) {
            channel.assign(buffers[c], buffers[c] + bufferSize);
        } else {
            channel.assign(bufferSize, 0.0f);
        }
        pointers_[static_cast<size_t>(c)] = channel.data();
    }
}

float* ATAudioFloatData::bufferForChannel(int channel) {
    if (channel < 0 || channel >= numberOfChannels()) return nullptr;
    return pointers_[static_cast<size_t>(channel)];
}

}  // namespace quenbril
