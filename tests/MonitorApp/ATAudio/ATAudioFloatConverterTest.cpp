#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFloatConverter.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {
namespace {

AudioStreamBasicDescription integerFormat(uint32_t channels, uint32_t bits, uint32_t bytes,
                                          uint32_t flags) {
    AudioStreamBasicDescription format;
    format.mSampleRate = 48000;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = flags;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = bits;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = bytes;
    format.mBytesPerPacket = bytes;
    return format;
}

constexpr uint32_t kSignedPacked = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;

TEST(ATAudioFloatConverterTest, Int16InterleavedStereoBecomesTwoFloatChannels) {
    auto converter =
        ATAudioFloatConverter::converterWithInputFormat(integerFormat(2, 16, 4, kSignedPacked));
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->floatFormat(),
              ATAudioUtilities::floatFormatWithNumberOfChannels(2, 48000));
    int16_t samples[] = {-32768, 32767, 16384, 0, 0, -16384};
    AudioBuffer buffer{2, sizeof samples, samples};
    AudioBufferList list{1, &buffer};
    float left[3] = {9, 9, 9};
    float right[3] = {9, 9, 9};
    float* out[] = {left, right};
    converter->convertDataFromAudioBufferList(&list, 3, out);
    EXPECT_EQ(left[0], -1.0f);
    EXPECT_FLOAT_EQ(right[0], 32767.0f / 32768.0f);
    EXPECT_EQ(left[1], 0.5f);
    EXPECT_EQ(right[1], 0.0f);
    EXPECT_EQ(left[2], 0.0f);
    EXPECT_EQ(right[2], -0.5f);
}

// Interleaved stereo float takes 8 bytes a frame, so one step is 512 frames: a slice of 1000
// frames needs two steps, and a slice of 100 must not write past the caller's 100 floats.
TEST(ATAudioFloatConverterTest, ConvertsExactlyTheFramesAskedForInSteps) {
    auto converter = ATAudioFloatConverter::converterWithInputFormat(
        ATAudioUtilities::stereoFloatInterleavedFormatWithSampleRate(48000));
    ASSERT_TRUE(converter);
    ASSERT_EQ(converter->packetsPerBuffer(), 512u);
    std::vector<float> interleaved(2000);
    for (size_t i = 0; i < interleaved.size(); ++i) interleaved[i] = static_cast<float>(i);
    AudioBuffer buffer{2, static_cast<uint32_t>(interleaved.size() * 4), interleaved.data()};
    AudioBufferList list{1, &buffer};

    constexpr float kGuard = -7.0f;
    std::vector<float> left(1000 + 16, kGuard), right(1000 + 16, kGuard);
    float* out[] = {left.data(), right.data()};
    converter->convertDataFromAudioBufferList(&list, 1000, out);
    EXPECT_EQ(left[999], 1998.0f);
    EXPECT_EQ(right[999], 1999.0f);
    EXPECT_EQ(right[512], 1025.0f);
    EXPECT_EQ(left[1000], kGuard);

    std::fill(left.begin(), left.end(), kGuard);
    converter->convertDataFromAudioBufferList(&list, 100, out);
    EXPECT_EQ(left[99], 198.0f);
    EXPECT_EQ(left[100], kGuard);
    EXPECT_EQ(left[511], kGuard);
}

TEST(ATAudioFloatConverterTest, ReadsOtherIntegerLayoutsAndStopsAtTheSourcesEnd) {
    // 24-bit big-endian in 3 bytes, one channel per buffer.
    auto big24 = ATAudioFloatConverter::converterWithInputFormat(integerFormat(
        2, 24, 3, kSignedPacked | kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsNonInterleaved));
    ASSERT_TRUE(big24);
    uint8_t first[] = {0x80, 0x00, 0x00, 0x40, 0x00, 0x00};
    uint8_t second[] = {0xFF, 0xFF, 0xFF};  // one frame only: the second frame reads as 0
    AudioBuffer buffers[] = {{1, sizeof first, first}, {1, sizeof second, second}};
    AudioBufferList list{2, buffers};
    float a[2], b[2];
    float* out[] = {a, b};
    big24->convertDataFromAudioBufferList(&list, 2, out);
    EXPECT_EQ(a[0], -1.0f);
    EXPECT_EQ(a[1], 0.5f);
    EXPECT_FLOAT_EQ(b[0], -1.0f / 8388608.0f);
    EXPECT_EQ(b[1], 0.0f);

    // Unsigned 8-bit centres on 128; 24 bits aligned high in 4 bytes drop the low byte.
    auto u8 = ATAudioFloatConverter::converterWithInputFormat(
        integerFormat(1, 8, 1, kAudioFormatFlagIsPacked));
    uint8_t bytes[] = {0, 128, 192};
    AudioBuffer one{1, sizeof bytes, bytes};
    AudioBufferList oneList{1, &one};
    float mono[3];
    float* monoOut[] = {mono};
    u8->convertDataFromAudioBufferList(&oneList, 3, monoOut);
    EXPECT_EQ(mono[0], -1.0f);
    EXPECT_EQ(mono[1], 0.0f);
    EXPECT_EQ(mono[2], 0.5f);

    auto high24 = ATAudioFloatConverter::converterWithInputFormat(
        integerFormat(1, 24, 4, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh));
    int32_t word = static_cast<int32_t>(0xC00000FF);  // -0.5 and a stray low byte
    AudioBuffer wordBuffer{1, 4, &word};
    AudioBufferList wordList{1, &wordBuffer};
    high24->convertDataFromAudioBufferList(&wordList, 1, monoOut);
    EXPECT_EQ(mono[0], -0.5f);

    // 32-bit integers and 64-bit floats, little-endian.
    auto i32 =
        ATAudioFloatConverter::converterWithInputFormat(integerFormat(1, 32, 4, kSignedPacked));
    int32_t ints[] = {INT32_MIN, 1 << 30};
    AudioBuffer intBuffer{1, sizeof ints, ints};
    AudioBufferList intList{1, &intBuffer};
    i32->convertDataFromAudioBufferList(&intList, 2, monoOut);
    EXPECT_EQ(mono[0], -1.0f);
    EXPECT_EQ(mono[1], 0.5f);
    auto f64 = ATAudioFloatConverter::converterWithInputFormat(
        integerFormat(1, 64, 8, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked));
    double doubles[] = {-0.125};
    AudioBuffer doubleBuffer{1, sizeof doubles, doubles};
    AudioBufferList doubleList{1, &doubleBuffer};
    f64->convertDataFromAudioBufferList(&doubleList, 1, monoOut);
    EXPECT_EQ(mono[0], -0.125f);
}

TEST(ATAudioFloatConverterTest, FloatChannelsAreCopiedAndMissingFramesOrChannelsAreSilent) {
    auto converter = ATAudioFloatConverter::converterWithInputFormat(
        ATAudioUtilities::floatFormatWithNumberOfChannels(3, 48000));
    ASSERT_TRUE(converter);
    std::vector<float> first(2000, 0.25f), second(700, -0.5f);
    AudioBuffer buffers[] = {{1, 2000 * 4, first.data()}, {1, 700 * 4, second.data()}};
    AudioBufferList list{2, buffers};  // the third channel's buffer is missing
    std::vector<float> a(2000, 9), b(2000, 9), c(2000, 9);
    float* out[] = {a.data(), b.data(), c.data()};
    converter->convertDataFromAudioBufferList(&list, 2000, out);
    EXPECT_EQ(a[1999], 0.25f);
    EXPECT_EQ(b[699], -0.5f);
    EXPECT_EQ(b[700], 0.0f);
    EXPECT_EQ(b[1999], 0.0f);
    EXPECT_EQ(c[0], 0.0f);
    converter->convertDataFromAudioBufferList(nullptr, 10, out);
    EXPECT_EQ(a[9], 0.0f);
    EXPECT_EQ(a[10], 0.25f);
}

TEST(ATAudioFloatConverterTest, FormatsItCannotReadMakeNoConverter) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ATAudioFloatConverter::converterWithInputFormat({}));
    EXPECT_FALSE(ATAudioFloatConverter::converterWithInputFormat(
        ATAudioUtilities::M4AFormatWithNumberOfChannels(2, 44100)));
    EXPECT_FALSE(ATAudioFloatConverter::converterWithInputFormat(
        integerFormat(2, 16, 3, kSignedPacked)));  // 3 bytes do not split into 2 channels
    EXPECT_FALSE(ATAudioFloatConverter::converterWithInputFormat(
        integerFormat(1, 16, 1, kSignedPacked)));  // 16 bits in one byte
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_NE(text.find("Error: Failed to create new audio converter ('fmt?')"), std::string::npos);
}

}  // namespace
}  // namespace quenbril
