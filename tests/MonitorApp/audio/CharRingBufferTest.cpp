#include <gtest/gtest.h>

#include <vector>

#include "MonitorApp/audio/CharRingBuffer.h"

namespace quenbril {
namespace {

std::vector<int8_t> column(int8_t value, int channels = 128) {
    return std::vector<int8_t>(static_cast<size_t>(channels), value);
}

// Reads the column n before the newest the way the level displays do: taking the index modulo
// bufferLen by adding bufferLen once when negative.
int8_t columnBefore(const CharRingBuffer& ring, int channel, int n) {
    int index = ring.bufferStart() - n;
    if (index < 0) index += ring.bufferLen();
    return ring.data()[channel][index];
}

TEST(CharRingBufferTest, ColumnsLandFromIndexOneAndTheOnesBeforeTheNewestWrapToTheEnd) {
    const int length = 300;
    CharRingBuffer ring(128, length);
    EXPECT_EQ(ring.data()[127][length - 1], 0);
    // Column k carries k modulo 100 so that every position is recognisable.
    const int appended = length + 40;
    for (int k = 1; k <= appended; ++k) {
        ring.produceOne(column(static_cast<int8_t>(k % 100)).data(), 128);
        ASSERT_EQ(ring.bufferStart(), k % length);  // the first column lands at index 1
    }
    EXPECT_EQ(ring.getLatestSample(64), appended % 100);
    // The 128 columns a display draws, oldest first, reach back past index 0 to the end.
    for (int n = 128; n >= 1; --n) {
        ASSERT_EQ(columnBefore(ring, 7, n), static_cast<int8_t>((appended - n) % 100)) << n;
    }
    EXPECT_EQ(columnBefore(ring, 7, 41), ring.data()[7][length - 1]);

    // Channel data reads newest first, across index 0 too.
    int8_t out[42] = {};
    int got = 0;
    ring.getChannelData(out, 42, &got, 7);
    EXPECT_EQ(got, 42);
    for (int n = 0; n < 42; ++n) ASSERT_EQ(out[n], columnBefore(ring, 7, n)) << n;
}

TEST(CharRingBufferTest, UnusedChannelsKeepTheColumnFromOneLengthEarlier) {
    CharRingBuffer ring(128, 4);
    for (int8_t v = 1; v <= 4; ++v) ring.produceOne(column(v).data(), 128);
    ring.produceOne(column(-9).data(), 10);  // lands where column 1 was
    EXPECT_EQ(ring.getLatestSample(9), -9);
    EXPECT_EQ(ring.getLatestSample(10), 1);
    EXPECT_EQ(ring.getLatestSample(127), 1);
}

TEST(CharRingBufferTest, OutOfRangeArgumentsAreClampedNotTrusted) {
    CharRingBuffer wide(500, 0);  // more channels than slots, no length
    EXPECT_EQ(wide.channels(), 128);
    EXPECT_EQ(wide.bufferLen(), 1);

    CharRingBuffer ring(4, 6);
    EXPECT_EQ(ring.data()[4], nullptr);
    const auto big = column(7, 300);
    ring.produceOne(big.data(), 300);  // would write through the empty slots
    EXPECT_EQ(ring.getLatestSample(3), 7);
    EXPECT_EQ(ring.getLatestSample(4), 0);
    EXPECT_EQ(ring.getLatestSample(-1), 0);

    int8_t out[6] = {};
    int got = -1;
    ring.getChannelData(out, 50, &got, 0);
    EXPECT_EQ(got, 6);
    ring.getChannelData(out, 2, &got, 4);
    EXPECT_EQ(got, 0);

    ring.setBufferStart(-1);
    EXPECT_EQ(ring.bufferStart(), 5);
    ring.setBufferStart(13);
    EXPECT_EQ(ring.bufferStart(), 1);
}

TEST(CharRingBufferTest, FifoKeepsOrderAcrossTheEndAndDropsTheOldestOnOverflow) {
    CharRingBuffer ring(2, 8);
    int8_t a[8], b[8];
    int8_t* out[2] = {a, b};
    int got = -1;
    ring.consume(out, 4, &got, 2);
    EXPECT_EQ(got, 0);

    int8_t left[12], right[12];
    for (int i = 0; i < 12; ++i) {
        left[i] = static_cast<int8_t>(i + 1);
        right[i] = static_cast<int8_t>(-i - 1);
    }
    const int8_t* in[2] = {left, right};
    ring.produce(in, 5, 2);
    ring.consume(out, 3, &got, 2);
    ASSERT_EQ(got, 3);
    EXPECT_EQ(a[2], 3);
    ring.produce(in, 6, 2);             // wraps past the end: 2 + 6 held
    EXPECT_EQ(ring.dataInBuffer(), 7);  // one was dropped: at most bufferLen - 1 are held
    ring.consume(out, 8, &got, 2);
    ASSERT_EQ(got, 7);
    const int8_t expected[7] = {5, 1, 2, 3, 4, 5, 6};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(a[i], expected[i]) << i;
        EXPECT_EQ(b[i], -expected[i]) << i;
    }

    ring.produce(in, 12, 2);  // longer than the ring: the newest 7 remain
    int start = -1, size = 0;
    int8_t* const* rows = ring.consume2(100, &got, &start, &size);
    ASSERT_EQ(got, 7);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(rows[0][start], 6);
    EXPECT_EQ(rows[0][(start + 6) % size], 12);
    EXPECT_EQ(ring.dataInBuffer(), 0);
}

}  // namespace
}  // namespace quenbril
