#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudio.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

std::string stderrOf(OSStatus status, const char* operation) {
    testing::internal::CaptureStderr();
    const bool ok = U::checkResult(status, operation);
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    return text;
}

TEST(ATAudioUtilitiesTest, ResultCheckPrintsPrintableCodesQuotedAndOthersAsNumbers) {
    EXPECT_TRUE(U::checkResult(0, "Nothing wrong"));
    EXPECT_NE(stderrOf(static_cast<OSStatus>(fourCharCode("fmt?")), "Set format")
                  .find("Error: Set format ('fmt?')"),
              std::string::npos);
    EXPECT_NE(stderrOf(-50, "Open unit").find("Error: Open unit (-50)"), std::string::npos);
    // One unprintable byte is enough for the number.
    EXPECT_EQ(U::stringFromUInt32Code(fourCharCode("ab\tc")), std::to_string(0x6162'0963u));
    EXPECT_EQ(U::stringFromUInt32Code(kAudioFormatLinearPCM), "'lpcm'");
}

TEST(ATAudioUtilitiesTest, ResultCheckReturnsUnlessTheExitSwitchIsTurnedOn) {
    // Off from the start: a machine without audio devices must keep running.
    EXPECT_FALSE(U::shouldExitOnCheckResultFail());
    EXPECT_FALSE(ATAudio::shouldExitOnCheckResultFail());
    EXPECT_EXIT(
        {
            ATAudio::setShouldExitOnCheckResultFail(true);
            U::checkResult(-50, "Start");
        },
        testing::ExitedWithCode(255), "Error: Start \\(-50\\)");
}

TEST(ATAudioUtilitiesTest, FloatFormatsCarryTheirFlagsAndSizes) {
    const AudioStreamBasicDescription three = U::floatFormatWithNumberOfChannels(3, 48000);
    EXPECT_EQ(three.mChannelsPerFrame, 3u);
    EXPECT_EQ(three.mBytesPerFrame, 4u);
    EXPECT_EQ(three.mBytesPerPacket, 4u);
    EXPECT_EQ(three.mFormatFlags, 0x21u);
    EXPECT_EQ(three.mSampleRate, 48000);
    EXPECT_FALSE(U::isInterleaved(three));
    EXPECT_TRUE(U::isFloatFormat(three) && U::isLinearPCM(three));

    const AudioStreamBasicDescription interleaved =
        U::stereoFloatInterleavedFormatWithSampleRate(44100);
    EXPECT_EQ(interleaved.mFormatFlags, 0x1u);
    EXPECT_EQ(interleaved.mBytesPerFrame, 8u);
    EXPECT_TRUE(U::isInterleaved(interleaved));
    EXPECT_EQ(U::monoFloatFormatWithSampleRate(1).mFormatFlags, 0x9u);
    EXPECT_EQ(U::monoCanonicalFormatWithSampleRate(1).mFormatFlags, 0x29u);
    EXPECT_EQ(U::stereoCanonicalNonInterleavedFormatWithSampleRate(1).mChannelsPerFrame, 2u);
    EXPECT_EQ(U::stereoFloatNonInterleavedFormatWithSampleRate(1).mFormatFlags, 0x21u);

    const AudioStreamBasicDescription aiff = U::AIFFFormatWithNumberOfChannels(6, 96000);
    EXPECT_EQ(aiff.mFormatFlags, 0xEu);
    EXPECT_EQ(aiff.mBytesPerFrame, 24u);
    EXPECT_FALSE(U::isFloatFormat(aiff));
    EXPECT_FALSE(U::isLinearPCM(U::M4AFormatWithNumberOfChannels(2, 44100)));
    EXPECT_EQ(U::iLBCFormatWithSampleRate(8000).mChannelsPerFrame, 1u);

    // The canonical setter keeps the rate and replaces everything else.
    AudioStreamBasicDescription format = aiff;
    U::setCanonicalAudioStreamBasicDescription(&format, 2, true);
    EXPECT_EQ(format.mSampleRate, 96000);
    EXPECT_EQ(format.mFormatFlags, 0x9u);
    EXPECT_EQ(format.mBytesPerFrame, 8u);
    U::setCanonicalAudioStreamBasicDescription(&format, 2, false);
    EXPECT_EQ(format, U::stereoCanonicalNonInterleavedFormatWithSampleRate(96000));

    const std::string text = U::stringForAudioStreamBasicDescription(three);
    EXPECT_NE(text.find("Format ID:                 lpcm,"), std::string::npos) << text;
    EXPECT_NE(text.find("IsInterleaved:       0,\nIsFloat:             1,"), std::string::npos);
}

TEST(ATAudioUtilitiesTest, BufferListsAreZeroedAndShapedByInterleaving) {
    AudioBufferList* split = ATAudio::audioBufferListWithNumberOfFrames(128, 3, false);
    ASSERT_EQ(split->mNumberBuffers, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(split->mBuffers[i].mNumberChannels, 1u);
        ASSERT_EQ(split->mBuffers[i].mDataByteSize, 512u);
        EXPECT_EQ(static_cast<float*>(split->mBuffers[i].mData)[127], 0.0f);
    }
    AudioBufferList* joined = ATAudio::audioBufferListWithNumberOfFrames(128, 3, true);
    ASSERT_EQ(joined->mNumberBuffers, 1u);
    EXPECT_EQ(joined->mBuffers[0].mNumberChannels, 3u);
    EXPECT_EQ(joined->mBuffers[0].mDataByteSize, 1536u);
    ATAudio::freeBufferList(split);
    ATAudio::freeBufferList(joined);
    ATAudio::freeBufferList(nullptr);

    float** floats = ATAudio::floatBuffersWithNumberOfFrames(64, 2);
    floats[1][63] = 1.0f;  // every channel holds all its frames (ASan checks the end)
    ATAudio::freeFloatBuffers(floats, 2);
}

TEST(ATAudioUtilitiesTest, NoteNamesRoundToTheNearestSemitoneWithTheOctaveOfC) {
    EXPECT_EQ(U::noteNameStringForFrequency(440.0f, true), "A4");
    EXPECT_EQ(U::noteNameStringForFrequency(261.63f, true), "C4");
    EXPECT_EQ(U::noteNameStringForFrequency(246.94f, true), "B3");
    EXPECT_EQ(U::noteNameStringForFrequency(123.47f, true), "B2");
    EXPECT_EQ(U::noteNameStringForFrequency(466.16f, false), "A#");
    EXPECT_EQ(U::noteNameStringForFrequency(27.5f, true), "A0");
    EXPECT_EQ(U::noteNameStringForFrequency(4186.0f, true), "C8");
}

TEST(ATAudioUtilitiesTest, NoteNameOfAFrequencyThatIsNotAPositiveNumberIsEmpty) {
    const float inf = std::numeric_limits<float>::infinity();
    for (float f : {0.0f, -440.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(U::noteNameStringForFrequency(f, true), "") << f;
    }
    // The smallest positive floats still have a (very low) note.
    EXPECT_FALSE(
        U::noteNameStringForFrequency(std::numeric_limits<float>::denorm_min(), true).empty());
}

TEST(ATAudioUtilitiesTest, TimeStringsRoundUpToWholeSecondsWithinTheHour) {
    EXPECT_EQ(U::displayTimeStringFromSeconds(0), "00:00");
    EXPECT_EQ(U::displayTimeStringFromSeconds(59.2), "01:00");
    EXPECT_EQ(U::displayTimeStringFromSeconds(3725), "02:05");
    EXPECT_EQ(U::displayTimeStringFromSeconds(-3), "00:00");
    EXPECT_EQ(U::displayTimeStringFromSeconds(std::nan("")), "00:00");
}

TEST(ATAudioUtilitiesTest, ScrollHistoriesShiftAndKeepTheNewestWhenFlooded) {
    std::vector<float> history = {1, 2, 3, 4};
    const float two[] = {5, 6};
    U::appendBufferAndShift(two, 2, history.data(), 4);
    EXPECT_EQ(history, (std::vector<float>{3, 4, 5, 6}));
    const float six[] = {10, 11, 12, 13, 14, 15};
    U::appendBufferAndShift(six, 6, history.data(), 4);
    EXPECT_EQ(history, (std::vector<float>{12, 13, 14, 15}));
    U::appendValue(7, history.data(), 4);
    EXPECT_EQ(history, (std::vector<float>{13, 14, 15, 7}));

    // Filling by index first, then shifting; a length past the history's size is clamped.
    std::vector<float> scroll;
    int index = 0;
    const float ones[] = {1, 1, 1, 1};
    const float threes[] = {3, 3, 3, 3};
    U::updateScrollHistory(scroll, 2, &index, ones, 4, false);
    ASSERT_EQ(scroll.size(), size_t{U::kMaxScrollHistory});
    U::updateScrollHistory(scroll, 2, &index, threes, 4, true);  // resolution changing: skipped
    U::updateScrollHistory(scroll, 2, &index, threes, 4, false);
    U::updateScrollHistory(scroll, 2, &index, ones, 4, false);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(scroll[0], 3.0f);
    EXPECT_EQ(scroll[1], 1.0f);
    index = U::kMaxScrollHistory;
    U::updateScrollHistory(scroll, 100000, &index, threes, 4, false);
    EXPECT_EQ(scroll.back(), 3.0f);
}

TEST(ATAudioUtilitiesTest, SmallMaths) {
    EXPECT_FLOAT_EQ(U::MAP(5, 0, 10, -1, 1), 0.0f);
    const float square[] = {1, -1, 1, -1};
    EXPECT_FLOAT_EQ(U::RMS(square, 4), 1.0f);
    EXPECT_EQ(U::RMS(square, 0), 0.0f);
    EXPECT_EQ(U::SGN(-0.5f), -1);
    EXPECT_EQ(U::SGN(0.0f), 0);
    EXPECT_EQ(U::SGN(2.0f), 1);

    float r = -1, g = -1, b = -1, a = -1;
    const float three[] = {0.1f, 0.2f, 0.3f};
    U::getColorComponentsFromCGColor(three, &r, &g, &b, &a);
    EXPECT_EQ(r, -1.0f);
    const float four[] = {0.1f, 0.2f, 0.3f, 0.4f};
    U::getColorComponentsFromCGColor(four, &r, &g, &b, &a);
    EXPECT_EQ(a, 0.4f);
}

}  // namespace
}  // namespace quenbril
