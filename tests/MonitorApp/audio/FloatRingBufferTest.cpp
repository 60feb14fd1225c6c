#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "MonitorApp/ATAudio/StreamRingBuffer.h"
#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/MonoRingBuffer.h"
#include "MonitorApp/audio/RingBuffer.h"

namespace quenbril::test {
namespace {

TEST(RingBufferTest, FillingTheRingDropsTheFirstFrame) {
    RingBuffer ring(2, 64);
    StereoSource source;
    source.write(ring, 64);
    EXPECT_EQ(ring.dataInBuffer(), 63);
    EXPECT_EQ(ring.data()[0][ring.bufferStart()], 2.0f);
    EXPECT_EQ(ring.data()[1][ring.bufferStart()], -2.0f);
}

TEST(RingBufferTest, ShortReadTakesNothingAndWaitsForMoreThanLengthOver2Point1) {
    RingBuffer ring(2, 4096);
    StereoSource source;
    Device sink(2, 512);
    // 100 held: nothing is delivered, the count tells how many were held, and filling starts.
    source.write(ring, 100);
    int shortCount = -1;
    ring.consume(sink.buffers(), 512, &shortCount, 2);
    EXPECT_EQ(shortCount, 100);
    EXPECT_EQ(sink.at(0, 0), 99.0f);
    EXPECT_EQ(sink.at(1, 99), 99.0f);
    EXPECT_TRUE(ring.isFilling());
    EXPECT_EQ(ring.dataInBuffer(), 100) << "a short read takes nothing";
    // 1950 held: still filling (more than 4096 / 2.1 is needed); nothing is delivered.
    source.write(ring, 1850);
    int filling = -1;
    ring.consume(sink.buffers(), 512, &filling, 2);
    EXPECT_EQ(filling, 0);
    EXPECT_EQ(sink.at(0, 0), 99.0f);
    EXPECT_TRUE(ring.isFilling());
    EXPECT_EQ(ring.dataInBuffer(), 1950);
    EXPECT_EQ(ring.log().pending(RingLog::Line::RingFilling), 1u);

    source.write(ring, 1);  // 1951 held
    int got = 0;
    ring.consume(sink.buffers(), 512, &got, 2);
    ASSERT_EQ(got, 512);
    EXPECT_FALSE(ring.isFilling());
    EXPECT_TRUE(sink.plays(1.0f));
    EXPECT_EQ(ring.dataInBuffer(), 1951 - 512);
    ring.log().flush();
    EXPECT_EQ(ring.log().pending(RingLog::Line::RingFilling), 0u);
}

TEST(RingBufferTest, AReaderFarBehindSkipsTheOldestHalf) {
    RingBuffer ring(2, 4096);
    StereoSource source;
    source.write(ring, 3700);
    Device sink(2, 512);
    int got = 0;
    ring.consume(sink.buffers(), 512, &got, 2);
    ASSERT_EQ(got, 512);
    EXPECT_EQ(sink.at(0, 0), 2049.0f);  // frames 1..2048 were dropped first
    EXPECT_EQ(ring.dataInBuffer(), 3700 - 2048 - 512);

    source.write(ring, 3686 - ring.dataInBuffer());  // 3686 held is below the cap
    ring.consume(sink.buffers(), 512, &got, 2);
    EXPECT_EQ(sink.at(0, 0), 2049.0f + 512);
}

TEST(RingBufferTest, CountsOutsideTheRingAreClamped) {
    RingBuffer wide(300, 16);
    EXPECT_EQ(wide.channels(), 128);
    RingBuffer ring(1, 16);
    StereoSource source;
    source.write(ring, 0);
    source.write(ring, 10);  // two source channels into a one-channel ring
    EXPECT_EQ(ring.dataInBuffer(), 10);
    const float* none[1] = {nullptr};
    ring.produce(none, 4, 0);  // no channel written: nothing moves
    EXPECT_EQ(ring.dataInBuffer(), 10);
    Device sink(2, 8);
    int got = 0;
    ring.consume(sink.buffers(), 8, &got, 2);  // asks for more channels than the ring has
    EXPECT_EQ(got, 8);
    EXPECT_EQ(sink.at(1, 0), 99.0f);
    ring.reset();
    EXPECT_EQ(ring.dataInBuffer(), 0);
    EXPECT_EQ(ring.bufferStart(), 0);
    EXPECT_EQ(ring.bufferEnd(), 0);
    EXPECT_EQ(ring.data()[0][9], 0.0f);
}

TEST(RingBufferTest, InPlaceReadHandsOutTheSlotsAndMovesOn) {
    RingBuffer ring(2, 16);
    StereoSource source;
    source.write(ring, 12);
    int got = 0, start = -1, size = 0;
    ring.consume2(5, &got, &start, &size);
    EXPECT_EQ(got, 5);
    float* const* rows = ring.consume2(20, &got, &start, &size);
    EXPECT_EQ(got, 7);
    EXPECT_EQ(start, 5);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(rows[1][start], -6.0f);
    EXPECT_EQ(ring.log().pending(RingLog::Line::NotEnoughInPlace), 1u);
}

TEST(StreamRingBufferTest, PlaysAboveTheTargetFillAndResetsAboveTwiceIt) {
    StreamRingBuffer ring(2, 240000);
    EXPECT_EQ(ring.targetFill(), 72000);
    StereoSource source;
    Device sink(2, 512);
    int got = -1;
    ring.consume(sink.buffers(), 512, &got, 2);
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(sink.silent());  // silence, not what the sink held

    source.write(ring, 72000);
    EXPECT_TRUE(ring.isFilling());
    ring.consume(sink.buffers(), 512, &got, 2);
    EXPECT_EQ(got, 0);
    source.write(ring, 1);
    EXPECT_FALSE(ring.isFilling());
    ring.consume(sink.buffers(), 512, &got, 2);
    EXPECT_EQ(got, 512);
    EXPECT_EQ(sink.at(0, 0), 1.0f);

    source.write(ring, 144000 - ring.dataInBuffer());
    EXPECT_EQ(ring.dataInBuffer(), 144000);
    source.write(ring, 1);
    EXPECT_EQ(ring.dataInBuffer(), 0);
    EXPECT_TRUE(ring.isFilling());
    EXPECT_EQ(ring.bufferStart(), 0);
    EXPECT_EQ(ring.log().pending(RingLog::Line::TooFullReset), 1u);
}

TEST(StreamRingBufferTest, ShortReadServesWhatIsHeldAndSilenceGoesOnlyWhereAsked) {
    StreamRingBuffer ring(2, 64);
    ring.setSampleRate(10.0f);
    ring.setBufferDur(1.0f);  // target fill 10 frames
    StereoSource source;
    source.write(ring, 11);
    Device sink(2, 16);
    int got = 0;
    ring.consume(sink.buffers(), 16, &got, 2);
    EXPECT_EQ(got, 11);
    EXPECT_EQ(sink.at(1, 10), -11.0f);
    EXPECT_EQ(ring.log().pending(RingLog::Line::NotEnoughData), 1u);
    // A short read leaves the ring playing; the empty one starts filling again.
    EXPECT_FALSE(ring.isFilling());
    Device mono(1, 16);
    ring.consume(mono.buffers(), 16, &got, 1);  // one channel of silence for one channel
    EXPECT_TRUE(mono.silent());
    EXPECT_TRUE(ring.isFilling());
}

TEST(MonoRingBufferTest, ReadsAreAllOrNothing) {
    MonoRingBuffer ring(32);
    float in[10];
    for (int i = 0; i < 10; ++i) in[i] = static_cast<float>(i);
    ring.produce(in, 10);
    float out[16] = {};
    int got = -1;
    ring.consume(out, 11, &got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(ring.dataInBuffer(), 10);
    ring.consume(out, 10, &got);
    EXPECT_EQ(got, 10);
    EXPECT_EQ(out[9], 9.0f);
}

TEST(BlockRingBufferTest, ServesFromTheFifthBlockDropsTheOldestWhenFullAndRefillsWhenEmpty) {
    BlockRingBuffer ring(4, 6);
    auto write = [&](float v) {
        float left[4] = {v, v, v, v}, right[4] = {-v, -v, -v, -v};
        ring.produce(left, right, 4);
    };
    float* l = nullptr;
    float* r = nullptr;
    for (int b = 1; b <= 4; ++b) write(static_cast<float>(b));
    EXPECT_FALSE(ring.consume(&l, &r));
    EXPECT_EQ(l, nullptr);
    write(5);
    ASSERT_TRUE(ring.consume(&l, &r));
    EXPECT_EQ(l[0], 1.0f);
    EXPECT_EQ(r[3], -1.0f);
    write(6);
    write(7);  // full with 5 held: block 2 goes
    EXPECT_EQ(ring.sizeNow(), 5);
    ASSERT_TRUE(ring.consume(&l, &r));
    EXPECT_EQ(l[0], 3.0f);

    while (ring.consume(&l, &r)) {
    }
    EXPECT_TRUE(ring.isFilling());
    for (int b = 0; b < 4; ++b) write(1);
    EXPECT_FALSE(ring.consume(&l, &r));
}

TEST(BlockRingBufferTest, SizesOutsideTheRingAreClamped) {
    BlockRingBuffer none;
    float block[256] = {};
    none.produce(block, block, 128);
    float* l = nullptr;
    float* r = nullptr;
    EXPECT_FALSE(none.consume(&l, &r));
    EXPECT_EQ(none.sizeNow(), 0);

    EXPECT_EQ(BlockRingBuffer(8, 40).numBlocks(), 30);
    BlockRingBuffer small(8, 6);
    for (float& f : block) f = 1.0f;
    small.produce(block, nullptr, 256);  // longer than a block: the block takes its 8 frames
    EXPECT_EQ(small.buffersL()[0][7], 1.0f);
    EXPECT_EQ(small.buffersR()[0][0], 0.0f);
    EXPECT_EQ(small.buffersL()[1][0], 0.0f);
}

}  // namespace
}  // namespace quenbril::test
