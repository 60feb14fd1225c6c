#include "MonitorApp/ATAudio/ClientFormat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {

namespace {

constexpr uint32_t kMaxChannels = 64;

uint32_t bytesPerSample(const AudioStreamBasicDescription& format) {
    return format.mBitsPerChannel / 8;
}

template <typename T>
T swapped(T value) {
    auto bytes = std::bit_cast<std::array<unsigned char, sizeof(T)>>(value);
    std::reverse(bytes.begin(), bytes.end());
    return std::bit_cast<T>(bytes);
}

// One sample as the format stores it, the same scale the float converter reads back.
template <typename T>
T encode(float sample) {
    if constexpr (std::is_same_v<T, float>) {
        return sample;
    } else {
        constexpr double scale = double{std::numeric_limits<T>::max()} + 1.0;
        const double value = std::nearbyint(static_cast<double>(sample) * scale);
        if (!(value > std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
        if (value >= scale) return std::numeric_limits<T>::max();
        return static_cast<T>(value);
    }
}

template <typename T>
void writeTyped(const float* interleaved, uint32_t frames, uint32_t channels, bool interleavedOut,
                bool swap, AudioBufferList* list, uint32_t firstFrame) {
    for (uint32_t c = 0; c < channels; ++c) {
        auto* base = static_cast<unsigned char*>(list->mBuffers[interleavedOut ? 0 : c].mData);
        const size_t stride = interleavedOut ? channels : 1;
        const size_t offset = interleavedOut ? c : 0;
        for (uint32_t i = 0; i < frames; ++i) {
            T value = encode<T>(interleaved[static_cast<size_t>(i) * channels + c]);
            if (swap) value = swapped(value);
            std::memcpy(base + ((firstFrame + i) * stride + offset) * sizeof(T), &value, sizeof(T));
        }
    }
}

}  // namespace

bool isSupportedClientFormat(const AudioStreamBasicDescription& format) {
    if (format.mFormatID != kAudioFormatLinearPCM || format.mChannelsPerFrame == 0 ||
        format.mChannelsPerFrame > kMaxChannels || !std::isfinite(format.mSampleRate) ||
        !(format.mSampleRate > 0.0) || format.mFramesPerPacket > 1) {
        return false;
    }
    const bool isFloat = ATAudioUtilities::isFloatFormat(format);
    const bool isSigned = (format.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
    if (isFloat == isSigned) return false;
    if (isFloat ? format.mBitsPerChannel != 32
                : format.mBitsPerChannel != 16 && format.mBitsPerChannel != 32) {
        return false;
    }
    const uint32_t samplesPerFrame =
        ATAudioUtilities::isInterleaved(format) ? format.mChannelsPerFrame : 1;
    return format.mBytesPerFrame == bytesPerSample(format) * samplesPerFrame;
}

uint32_t framesHeldInFormat(const AudioBufferList* bufferList,
                            const AudioStreamBasicDescription& format) {
    const bool interleaved = ATAudioUtilities::isInterleaved(format);
    const uint32_t buffers = interleaved ? 1 : format.mChannelsPerFrame;
    if (!bufferList || format.mBytesPerFrame == 0 || bufferList->mNumberBuffers < buffers) return 0;
    uint32_t frames = UINT32_MAX;
    for (uint32_t b = 0; b < buffers; ++b) {
        const AudioBuffer& buffer = bufferList->mBuffers[b];
        frames = std::min(frames, buffer.mData ? buffer.mDataByteSize / format.mBytesPerFrame : 0);
    }
    return frames;
}

void writeFloatFrames(const float* interleaved, uint32_t frames,
                      const AudioStreamBasicDescription& format, AudioBufferList* bufferList,
                      uint32_t firstFrame) {
    const uint32_t channels = format.mChannelsPerFrame;
    const bool interleavedOut = ATAudioUtilities::isInterleaved(format);
    const bool bigEndian = (format.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0;
    const bool swap = bigEndian != (std::endian::native == std::endian::big);
    if (ATAudioUtilities::isFloatFormat(format)) {
        writeTyped<float>(interleaved, frames, channels, interleavedOut, swap, bufferList,
                          firstFrame);
    } else if (format.mBitsPerChannel == 16) {
        writeTyped<int16_t>(interleaved, frames, channels, interleavedOut, swap, bufferList,
                            firstFrame);
    } else {
        writeTyped<int32_t>(interleaved, frames, channels, interleavedOut, swap, bufferList,
                            firstFrame);
    }
}

}  // namespace quenbril
