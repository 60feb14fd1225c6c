#include <gtest/gtest.h>

#include "MonitorApp/ATAudio/ATAudioFloatData.h"

namespace quenbril {
namespace {

TEST(ATAudioFloatDataTest, CopiesEachChannelAndHasNoBufferOutsideThem) {
    float left[] = {1, 2, 3};
    float right[] = {4, 5, 6};
    const float* channels[] = {left, right};
    auto data = ATAudioFloatData::dataWithNumberOfChannels(2, channels, 3);
    left[0] = 100;  // a copy, not a view
    EXPECT_EQ(data->numberOfChannels(), 2);
    EXPECT_EQ(data->bufferSize(), 3u);
    ASSERT_NE(data->bufferForChannel(1), nullptr);
    EXPECT_EQ(data->bufferForChannel(0)[0], 1.0f);
    EXPECT_EQ(data->bufferForChannel(1)[2], 6.0f);
    EXPECT_EQ(data->buffers()[1], data->bufferForChannel(1));
    EXPECT_EQ(data->bufferForChannel(2), nullptr);
    EXPECT_EQ(data->bufferForChannel(-1), nullptr);
}

}  // namespace
}  // namespace quenbril
