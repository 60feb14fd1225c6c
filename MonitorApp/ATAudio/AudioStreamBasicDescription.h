#pragma once

#include <cstdint>

namespace quenbril {

/// A result code of an audio call: 0 is success, anything else a failure, often four characters.
using OSStatus = int32_t;

/// Four characters packed big-endian into one code, the way format ids and status codes are kept.
constexpr uint32_t fourCharCode(const char (&text)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(text[3]));
}

inline constexpr uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
inline constexpr uint32_t kAudioFormatiLBC = fourCharCode("ilbc");
inline constexpr uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");

inline constexpr uint32_t kAudioFormatFlagIsFloat = 0x1;
inline constexpr uint32_t kAudioFormatFlagIsBigEndian = 0x2;
inline constexpr uint32_t kAudioFormatFlagIsSignedInteger = 0x4;
inline constexpr uint32_t kAudioFormatFlagIsPacked = 0x8;
inline constexpr uint32_t kAudioFormatFlagIsAlignedHigh = 0x10;
inline constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 0x20;
inline constexpr uint32_t kAudioFormatFlagIsNonMixable = 0x40;

/// The shape of a stream of audio: its rate, encoding and layout. All zero means "no format".
struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;

    bool operator==(const AudioStreamBasicDescription&) const = default;
};

/// Where one packet of a format without a fixed packet size lies in a buffer.
struct AudioStreamPacketDescription {
    int64_t mStartOffset = 0;
    uint32_t mVariableFramesInPacket = 0;
    uint32_t mDataByteSize = 0;
};

}  // namespace quenbril
