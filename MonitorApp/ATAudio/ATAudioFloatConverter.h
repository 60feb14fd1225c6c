#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"

namespace quenbril {

/// Converts slices of linear PCM (8, 16, 24 or 32-bit integers, 32 or 64-bit floats, either
/// byte order, interleaved or not) to one float32 array per channel. Converting allocates
/// nothing, so it may run on an audio thread.
class ATAudioFloatConverter {
  public:
    /// A converter from `inputFormat`, or null (with a log line) for a format it cannot read.
    static std::unique_ptr<ATAudioFloatConverter> converterWithInputFormat(
        const AudioStreamBasicDescription& inputFormat);
    ~ATAudioFloatConverter();
    ATAudioFloatConverter(const ATAudioFloatConverter&) = delete;
    ATAudioFloatConverter& operator=(const ATAudioFloatConverter&) = delete;

    const AudioStreamBasicDescription& inputFormat() const { return inputFormat_; }
    /// Non-interleaved float32 of the input's channels and rate.
    const AudioStreamBasicDescription& floatFormat() const { return floatFormat_; }
    /// The frames converted in one step: 4096 bytes of input.
    uint32_t packetsPerBuffer() const { return packetsPerBuffer_; }

    /// Converts exactly `frames` frames of `bufferList` into `buffers` (one array of at least
    /// `frames` floats per channel), in steps of packetsPerBuffer(). Frames the list's buffers
    /// do not hold come out as 0.
    void convertDataFromAudioBufferList(const AudioBufferList* bufferList, uint32_t frames,
                                        float** buffers);
    /// The same; linear PCM has a fixed packet size, so the descriptions are not needed.
    void convertDataFromAudioBufferList(const AudioBufferList* bufferList, uint32_t frames,
                                        float** buffers,
                                        const AudioStreamPacketDescription* packetDescriptions);

  private:
    enum class Sample { SignedInteger, UnsignedInteger, Float32, Float64 };

    explicit ATAudioFloatConverter(const AudioStreamBasicDescription& inputFormat);
    void convertChunk(const AudioBufferList* bufferList, uint32_t firstFrame, uint32_t frames);
    float readSample(const uint8_t* bytes) const;

    AudioStreamBasicDescription inputFormat_;
    AudioStreamBasicDescription floatFormat_;
    uint32_t packetsPerBuffer_ = 0;
    uint32_t channels_ = 0;
    bool interleaved_ = true;
    bool bigEndian_ = false;
    bool alignedHigh_ = false;
    Sample sample_ = Sample::SignedInteger;
    /// Bytes each sample takes in the stream, and its significant bits.
    uint32_t containerBytes_ = 0;
    uint32_t bits_ = 0;
    /// One step's floats, one buffer per channel.
    AudioBufferList* floatBufferList_ = nullptr;
};

}  // namespace quenbril
