#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/VMCircularBuffer.h"

namespace quenbril {
namespace {

class Ring {
  public:
    explicit Ring(int32_t length) { ok = VMCircularBufferInit(&ring, length); }
    ~Ring() { VMCircularBufferCleanup(&ring); }
    VMCircularBuffer ring;
    bool ok = false;
};

std::vector<uint8_t> counting(int n, int from) {
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    std::iota(bytes.begin(), bytes.end(), static_cast<uint8_t>(from));
    return bytes;
}

TEST(VMCircularBufferTest, AHundredByteRingIsOnePageAndAWriteAcrossItsEndReadsBackWhole) {
    Ring r(100);
    ASSERT_TRUE(r.ok);
    const int32_t page = static_cast<int32_t>(sysconf(_SC_PAGESIZE));
    ASSERT_EQ(r.ring.length, page);

    // Bring head and tail to 20 bytes before the end.
    const std::vector<uint8_t> filler(static_cast<size_t>(page - 20), 0xEE);
    ASSERT_TRUE(VMCircularBufferProduceBytes(&r.ring, filler.data(), page - 20));
    VMCircularBufferConsume(&r.ring, page - 20);
    ASSERT_EQ(r.ring.head, page - 20);

    const std::vector<uint8_t> sixty = counting(60, 1);
    ASSERT_TRUE(VMCircularBufferProduceBytes(&r.ring, sixty.data(), 60));
    EXPECT_EQ(r.ring.head, 40);
    int32_t held = 0;
    const uint8_t* tail = VMCircularBufferTail(&r.ring, &held);
    ASSERT_EQ(held, 60);
    EXPECT_EQ(std::vector<uint8_t>(tail, tail + 60), sixty);
    // The 40 bytes past the end are the ring's first 40: one storage, seen twice.
    EXPECT_EQ(std::vector<uint8_t>(r.ring.buffer, r.ring.buffer + 40),
              std::vector<uint8_t>(sixty.begin() + 20, sixty.end()));
    VMCircularBufferConsume(&r.ring, 60);
    EXPECT_EQ(r.ring.tail, 40);
}

TEST(VMCircularBufferTest, AWriteThatDoesNotFitWritesNothingAndClearEmptiesTheRing) {
    Ring r(1);
    ASSERT_TRUE(r.ok);
    const int32_t length = r.ring.length;
    const std::vector<uint8_t> most = counting(length - 10, 0);
    ASSERT_TRUE(VMCircularBufferProduceBytes(&r.ring, most.data(), length - 10));
    const std::vector<uint8_t> eleven = counting(11, 0);
    EXPECT_FALSE(VMCircularBufferProduceBytes(&r.ring, eleven.data(), 11));
    EXPECT_EQ(r.ring.fillCount.load(), length - 10);
    EXPECT_EQ(r.ring.head, length - 10);

    VMCircularBufferClear(&r.ring);
    EXPECT_EQ(r.ring.fillCount.load(), 0);
    EXPECT_EQ(r.ring.tail, r.ring.head);
    EXPECT_TRUE(VMCircularBufferProduceBytes(&r.ring, eleven.data(), 11));

    // The utilities append the first buffer of a list only when it fits whole.
    uint8_t bytes[16] = {};
    AudioBuffer buffer{1, sizeof bytes, bytes};
    AudioBufferList list{1, &buffer};
    ATAudioUtilities::appendDataToCircularBuffer(&r.ring, &list);
    EXPECT_EQ(r.ring.fillCount.load(), 27);
    buffer.mDataByteSize = static_cast<uint32_t>(length);
    ATAudioUtilities::appendDataToCircularBuffer(&r.ring, &list);
    EXPECT_EQ(r.ring.fillCount.load(), 27);

    ATAudioUtilities::freeCircularBuffer(&r.ring);
    EXPECT_EQ(r.ring.buffer, nullptr);
    EXPECT_EQ(r.ring.length, 0);
}

TEST(VMCircularBufferTest, RequestsRoundUpToWholePages) {
    const int32_t page = static_cast<int32_t>(sysconf(_SC_PAGESIZE));
    Ring exact(2 * page);
    Ring over(2 * page + 1);
    ASSERT_TRUE(exact.ok && over.ok);
    EXPECT_EQ(exact.ring.length, 2 * page);
    EXPECT_EQ(over.ring.length, 3 * page);
}

// A writer and a reader on two threads pass a counting stream through a small ring in runs of
// odd sizes, so runs keep crossing the end; every byte arrives once, in order.
TEST(VMCircularBufferTest, OneWriterAndOneReaderOnTwoThreadsPassEveryByteInOrder) {
    Ring r(1);
    ASSERT_TRUE(r.ok);
    constexpr int64_t kTotal = 4'000'000;
    std::thread writer([&] {
        int64_t sent = 0;
        uint8_t run[97];
        while (sent < kTotal) {
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(97, kTotal - sent));
            for (int32_t i = 0; i < n; ++i) run[i] = static_cast<uint8_t>((sent + i) % 251);
            if (VMCircularBufferProduceBytes(&r.ring, run, n)) {
                sent += n;
            } else {
                std::this_thread::yield();
            }
        }
    });
    int64_t received = 0;
    int64_t wrong = 0;
    while (received < kTotal) {
        int32_t held = 0;
        const uint8_t* tail = VMCircularBufferTail(&r.ring, &held);
        if (held == 0) {
            std::this_thread::yield();
            continue;
        }
        const int32_t n = std::min<int32_t>(held, 61);
        for (int32_t i = 0; i < n; ++i) {
            if (tail[i] != static_cast<uint8_t>((received + i) % 251)) ++wrong;
        }
        VMCircularBufferConsume(&r.ring, n);
        received += n;
    }
    writer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(r.ring.fillCount.load(), 0);
}

}  // namespace
}  // namespace quenbril
