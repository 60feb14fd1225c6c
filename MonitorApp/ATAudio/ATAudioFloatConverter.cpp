#include "MonitorApp/ATAudio/ATAudioFloatConverter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr uint32_t kBytesPerStep = 4096;
// The status the check prints for a format the converter cannot read.
constexpr OSStatus kFormatNotSupported = static_cast<OSStatus>(fourCharCode("fmt?"));

bool readable(const AudioStreamBasicDescription& format) {
    if (format.mFormatID != kAudioFormatLinearPCM || format.mChannelsPerFrame == 0 ||
        format.mBytesPerFrame == 0 || format.mBitsPerChannel == 0) {
        return false;
    }
    if (format.mFramesPerPacket > 1) return false;
    const bool interleaved = ATAudioUtilities::isInterleaved(format);
    if (interleaved && format.mBytesPerFrame % format.mChannelsPerFrame != 0) return false;
    const uint32_t container =
        interleaved ? format.mBytesPerFrame / format.mChannelsPerFrame : format.mBytesPerFrame;
    if (container == 0 || container > 8 || format.mBitsPerChannel > container * 8) return false;
    if (ATAudioUtilities::isFloatFormat(format)) {
        return (format.mBitsPerChannel == 32 && container == 4) ||
               (format.mBitsPerChannel == 64 && container == 8);
    }
    return container <= 4;
}

// Reads `frames` samples of type T, `stride` bytes apart, in the machine's byte order, scaled.
template <typename T>
void readTyped(const uint8_t* bytes, uint64_t stride, uint32_t frames, float scale, float* out) {
    for (uint32_t i = 0; i < frames; ++i) {
        T value;
        std::memcpy(&value, bytes + i * stride, sizeof value);
        out[i] = static_cast<float>(value) * scale;
    }
}

}  // namespace

std::unique_ptr<ATAudioFloatConverter> ATAudioFloatConverter::converterWithInputFormat(
    const AudioStreamBasicDescription& inputFormat) {
    if (!readable(inputFormat)) {
        ATAudioUtilities::checkResult(kFormatNotSupported, "Failed to create new audio converter");
        return nullptr;
    }
    return std::unique_ptr<ATAudioFloatConverter>(new ATAudioFloatConverter(inputFormat));
}

ATAudioFloatConverter::ATAudioFloatConverter(const AudioStreamBasicDescription& inputFormat)
    : inputFormat_(inputFormat),
      floatFormat_(ATAudioUtilities::floatFormatWithNumberOfChannels(inputFormat.mChannelsPerFrame,
                                                                     inputFormat.mSampleRate)),
      channels_(inputFormat.mChannelsPerFrame),
      interleaved_(ATAudioUtilities::isInterleaved(inputFormat)),
      bigEndian_((inputFormat.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0),
      alignedHigh_((inputFormat.mFormatFlags & kAudioFormatFlagIsAlignedHigh) != 0),
      bits_(inputFormat.mBitsPerChannel) {
    containerBytes_ =
        interleaved_ ? inputFormat.mBytesPerFrame / channels_ : inputFormat.mBytesPerFrame;
    if (ATAudioUtilities::isFloatFormat(inputFormat)) {
        sample_ = bits_ == 64 ? Sample::Float64 : Sample::Float32;
    } else if (inputFormat.mFormatFlags & kAudioFormatFlagIsSignedInteger) {
        sample_ = Sample::SignedInteger;
    } else {
        sample_ = Sample::UnsignedInteger;
    }
    const uint32_t bytesPerPacket =
        inputFormat.mBytesPerPacket > 0 ? inputFormat.mBytesPerPacket : inputFormat.mBytesPerFrame;
    packetsPerBuffer_ = std::max(kBytesPerStep / bytesPerPacket, 1u);
    floatBufferList_ =
        ATAudioUtilities::audioBufferListWithNumberOfFrames(packetsPerBuffer_, channels_, false);
}

ATAudioFloatConverter::~ATAudioFloatConverter() {
    ATAudioUtilities::freeBufferList(floatBufferList_);
}

void ATAudioFloatConverter::convertDataFromAudioBufferList(const AudioBufferList* bufferList,
                                                           uint32_t frames, float** buffers) {
    convertDataFromAudioBufferList(bufferList, frames, buffers, nullptr);
}

void ATAudioFloatConverter::convertDataFromAudioBufferList(
    const AudioBufferList* bufferList, uint32_t frames, float** buffers,
    const AudioStreamPacketDescription* /*packetDescriptions*/) {
    if (frames == 0 || !buffers) return;
    // Each step fills the converter's own buffers, and exactly the step's frames are copied
    // out, so a caller's arrays of `frames` floats are never written past their end.
    for (uint32_t done = 0; done < frames;) {
        const uint32_t step = std::min(packetsPerBuffer_, frames - done);
        convertChunk(bufferList, done, step);
        for (uint32_t c = 0; c < channels_; ++c) {
            if (!buffers[c]) continue;
            const auto* converted = static_cast<const float*>(floatBufferList_->mBuffers[c].mData);
            std::memcpy(buffers[c] + done, converted, step * sizeof(float));
        }
        done += step;
    }
}

void ATAudioFloatConverter::convertChunk(const AudioBufferList* bufferList, uint32_t firstFrame,
                                         uint32_t frames) {
    const uint64_t stride = inputFormat_.mBytesPerFrame;
    // Native float32 one channel to a buffer is the devices' own layout: a plain copy.
    const bool nativeOrder = bigEndian_ == (std::endian::native == std::endian::big);
    const bool copies = sample_ == Sample::Float32 && !interleaved_ && nativeOrder && stride == 4;
    for (uint32_t c = 0; c < channels_; ++c) {
        auto* out = static_cast<float*>(floatBufferList_->mBuffers[c].mData);
        const uint32_t bufferIndex = interleaved_ ? 0 : c;
        const AudioBuffer* source = bufferList && bufferIndex < bufferList->mNumberBuffers
                                        ? &bufferList->mBuffers[bufferIndex]
                                        : nullptr;
        // The frames this channel's bytes hold from `firstFrame` on; the rest read as 0.
        const uint64_t channelOffset = interleaved_ ? uint64_t{c} * containerBytes_ : 0;
        uint64_t held = 0;
        if (source && source->mData && source->mDataByteSize >= channelOffset + containerBytes_) {
            held = (source->mDataByteSize - channelOffset - containerBytes_) / stride + 1;
        }
        const uint32_t usable =
            held > firstFrame ? static_cast<uint32_t>(std::min<uint64_t>(held - firstFrame, frames))
                              : 0;
        std::fill(out + usable, out + frames, 0.0f);
        if (usable == 0) continue;
        const auto* bytes =
            static_cast<const uint8_t*>(source->mData) + firstFrame * stride + channelOffset;
        if (copies) {
            std::memcpy(out, bytes, usable * sizeof(float));
            continue;
        }
        if (nativeOrder && sample_ == Sample::SignedInteger && bits_ == 16 &&
            containerBytes_ == 2) {
            readTyped<int16_t>(bytes, stride, usable, 1.0f / 32768.0f, out);
        } else if (nativeOrder && sample_ == Sample::SignedInteger && bits_ == 32 &&
                   containerBytes_ == 4) {
            readTyped<int32_t>(bytes, stride, usable, 1.0f / 2147483648.0f, out);
        } else if (nativeOrder && sample_ == Sample::Float32) {
            readTyped<float>(bytes, stride, usable, 1.0f, out);
        } else {
            for (uint32_t i = 0; i < usable; ++i) out[i] = readSample(bytes + i * stride);
        }
    }
}

float ATAudioFloatConverter::readSample(const uint8_t* bytes) const {
    uint64_t raw = 0;
    for (uint32_t b = 0; b < containerBytes_; ++b) {
        const uint32_t shift = bigEndian_ ? 8 * (containerBytes_ - 1 - b) : 8 * b;
        raw |= uint64_t{bytes[b]} << shift;
    }
    switch (sample_) {
        case Sample::Float32:
            return std::bit_cast<float>(static_cast<uint32_t>(raw));
        case Sample::Float64:
            return static_cast<float>(std::bit_cast<double>(raw));
        case Sample::SignedInteger:
        case Sample::UnsignedInteger:
            break;
    }
    const uint32_t spare = containerBytes_ * 8 - bits_;
    if (alignedHigh_) raw >>= spare;
    raw &= (uint64_t{1} << bits_) - 1;
    const int64_t half = int64_t{1} << (bits_ - 1);
    int64_t value = static_cast<int64_t>(raw);
    if (sample_ == Sample::SignedInteger) {
        if (value >= half) value -= 2 * half;
    } else {
        value -= half;
    }
    return static_cast<float>(static_cast<double>(value) / static_cast<double>(half));
}

}  // namespace quenbril
