#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

std::vector<float> shown(const HistoryInfo& info) {
    return std::vector<float>(info.buffer.begin(), info.buffer.begin() + info.bufferSize);
}

TEST(HistoryInfoTest, ShowsTheDefaultLengthOfARingOfTheMaximumPrefilledWithZeroes) {
    auto info = U::historyInfoWithDefaultLength(4, 2048);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bufferSize, 4);
    EXPECT_EQ(info->buffer.size(), 2048u);
    EXPECT_EQ(info->circularBuffer.fillCount.load(), 2048 * 4);

    const float first[] = {1, 2};
    U::appendBuffer(first, 2, info.get());
    // The shown values are copied before the oldest are dropped, so they trail by one append.
    EXPECT_EQ(shown(*info), (std::vector<float>{0, 0, 0, 0}));
    const float next[] = {3, 4, 5};
    U::appendBuffer(next, 3, info.get());
    EXPECT_EQ(shown(*info), (std::vector<float>{0, 0, 1, 2}));
    U::appendFloat(6, info.get());
    EXPECT_EQ(shown(*info), (std::vector<float>{2, 3, 4, 5}));
    EXPECT_EQ(info->circularBuffer.fillCount.load(), 4 * 4);
}

TEST(HistoryInfoTest, AHistoryShowingItsWholeMaximumKeepsRolling) {
    // 1024 floats fill one page exactly, so the prefilled ring has no room left.
    auto info = U::historyInfoWithDefaultLength(1024, 1024);
    ASSERT_TRUE(info);
    for (int k = 1; k <= 3; ++k) {
        std::vector<float> block(300, static_cast<float>(k));
        U::appendBuffer(block.data(), 300, info.get());
    }
    EXPECT_EQ(info->buffer[1023], 3.0f);
    EXPECT_EQ(info->buffer[1023 - 300], 2.0f);
    EXPECT_EQ(info->buffer[1023 - 900], 0.0f);
    // A block longer than the whole ring leaves its newest values.
    std::vector<float> flood(5000);
    for (int i = 0; i < 5000; ++i) flood[static_cast<size_t>(i)] = static_cast<float>(i);
    U::appendBuffer(flood.data(), 5000, info.get());
    EXPECT_EQ(info->buffer[0], 5000.0f - 1024);
    EXPECT_EQ(info->buffer[1023], 4999.0f);
}

TEST(HistoryInfoTest, ADefaultAboveTheMaximumIsClampedToIt) {
    auto info = U::historyInfoWithDefaultLength(10000, 512);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bufferSize, 512);
    std::vector<float> block(600, 1.0f);
    U::appendBuffer(block.data(), 600, info.get());
    U::appendBuffer(block.data(), 600, info.get());
    EXPECT_EQ(info->buffer[511], 1.0f);
}

TEST(HistoryInfoTest, ValuesThatAreNotNumbersArriveAsZeroAndClearEmptiesTheHistory) {
    auto info = U::historyInfoWithDefaultLength(2, 64);
    ASSERT_TRUE(info);
    const float twos[] = {2, -2, 2, -2};
    U::appendBufferRMS(twos, 4, info.get());
    U::appendFloat(std::nanf(""), info.get());
    U::appendFloat(1, info.get());
    EXPECT_EQ(shown(*info), (std::vector<float>{2, 0}));
    const float nan[] = {std::nanf("")};
    U::appendBufferRMS(nan, 1, info.get());
    EXPECT_EQ(shown(*info), (std::vector<float>{0, 1}));

    U::clearHistoryInfo(info.get());
    EXPECT_EQ(shown(*info), (std::vector<float>{0, 0}));
    EXPECT_EQ(info->circularBuffer.fillCount.load(), 0);
    U::appendFloat(5, info.get());
    U::appendFloat(6, info.get());
    U::appendFloat(7, info.get());
    EXPECT_EQ(shown(*info), (std::vector<float>{5, 6}));
    U::freeHistoryInfo(std::move(info));
}

}  // namespace
}  // namespace quenbril
