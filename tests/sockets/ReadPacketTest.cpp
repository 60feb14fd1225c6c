#include <gtest/gtest.h>

#include <cstring>

#include "sockets/DispatchSocketPreBuffer.h"
#include "sockets/ReadPacket.h"

namespace quenbril {
namespace {

void put(DispatchSocketPreBuffer& pre, const std::string& text) {
    pre.ensureCapacityForWrite(text.size());
    std::memcpy(pre.writeBuffer(), text.data(), text.size());
    pre.didWrite(text.size());
}

Bytes crlf() { return Bytes{'\r', '\n'}; }

TEST(ReadPacket, FindsATerminatorThatStartsInBytesAlreadyRead) {
    ReadPacket p(nullptr, 0, 0, -1, 0, crlf(), 0);
    p.buffer->assign({'a', 'b', '\r'});
    p.bytesDone = 3;
    DispatchSocketPreBuffer pre(4);
    put(pre, "\nrest");
    bool found = false;
    EXPECT_EQ(p.readLengthForTermWithPreBuffer(pre.readBuffer(), pre.availableBytes(), &found), 1u);
    EXPECT_TRUE(found);
}

TEST(ReadPacket, PreBufferSearchStopsAtTheMaximumLength) {
    ReadPacket p(nullptr, 0, 6, -1, 0, crlf(), 0);
    DispatchSocketPreBuffer pre(4);
    put(pre, "abcdefgh\r\n");
    bool found = true;
    EXPECT_EQ(p.readLengthForTermWithPreBuffer(pre.readBuffer(), pre.availableBytes(), &found), 6u);
    EXPECT_FALSE(found);

    ReadPacket q(nullptr, 0, 0, -1, 0, crlf(), 0);
    found = false;
    EXPECT_EQ(q.readLengthForTermWithPreBuffer(pre.readBuffer(), pre.availableBytes(), &found),
              10u);
    EXPECT_TRUE(found);
}

TEST(ReadPacket, SearchAfterNewBytesCountsWhatFollowsTheTerminator) {
    ReadPacket p(nullptr, 0, 0, -1, 0, crlf(), 0);
    p.buffer->assign({'x', '\r', '\n', 'y', 'z'});
    p.bytesDone = 1;  // "x" was there before; four new bytes landed
    EXPECT_EQ(p.searchForTermAfterPreBuffering(4), 2);
    p.bytesDone = 0;
    p.buffer->assign({'a', 'b'});
    EXPECT_EQ(p.searchForTermAfterPreBuffering(2), -1);
}

TEST(ReadPacket, OwnBufferGrowsOnlyAsBytesArrive) {
    ReadPacket p(nullptr, 0, 0, -1, size_t{1} << 31, Bytes{}, 0);
    EXPECT_EQ(p.buffer->capacity(), 0u);
    EXPECT_EQ(p.readLengthForNonTermWithHint(10), 10u);
    p.ensureRoom(10);
    EXPECT_EQ(p.buffer->size(), 10u);
}

TEST(ReadPacket, RunLoopLengthsNeverReadPastTheTerminatorOrACallersBuffer) {
    const Bytes term{'<', '/', '>'};
    ReadPacket p(nullptr, 0, 0, -1, 0, term, 0);
    p.buffer->assign({'a', '<', '/'});
    p.bytesDone = 3;  // "</" may begin the terminator: one more byte can complete it
    EXPECT_EQ(p.readLengthForTerm(), 1u);
    EXPECT_EQ(p.prebufferReadLengthForTerm(), ReadPacket::kChunk);

    auto callers = std::make_shared<Bytes>(10);
    ReadPacket q(callers, 4, 0, -1, 0, Bytes{}, 0);
    EXPECT_EQ(q.readLengthForNonTerm(), 6u);
    ReadPacket r(nullptr, 0, 0, -1, 1000, Bytes{}, 0);
    EXPECT_EQ(r.readLengthForNonTerm(), 1000u);
}

TEST(DispatchSocketPreBuffer, GrowsByTheShortfallAndRewindsWhenDrained) {
    DispatchSocketPreBuffer pre(4);
    put(pre, "abc");
    pre.ensureCapacityForWrite(5);
    EXPECT_EQ(pre.capacity(), 8u);
    put(pre, "defgh");
    pre.didRead(8);
    EXPECT_EQ(pre.availableBytes(), 0u);
    EXPECT_EQ(pre.availableSpace(), 8u);
}

}  // namespace
}  // namespace quenbril
