#include <gtest/gtest.h>

#include <cstring>

#include "sockets/DispatchReadPacket.h"
#include "sockets/DispatchSocketPreBuffer.h"

namespace quenbril {
namespace {

void put(DispatchSocketPreBuffer& pre, const std::string& text) {
    pre.ensureCapacityForWrite(text.size());
    std::memcpy(pre.writeBuffer(), text.data(), text.size());
    pre.didWrite(text.size());
}

Bytes crlf() { return Bytes{'\r', '\n'}; }

TEST(DispatchReadPacket, FindsATerminatorThatStartsInBytesAlreadyRead) {
    DispatchReadPacket p(nullptr, 0, 0, -1, 0, crlf(), 0);
    p.buffer->assign({'a', 'b', '\r'});
    p.bytesDone = 3;
    DispatchSocketPreBuffer pre(4);
    put(pre, "\nrest");
    bool found = false;
    EXPECT_EQ(p.readLengthForTermWithPreBuffer(pre, &found), 1u);
    EXPECT_TRUE(found);
}

TEST(DispatchReadPacket, PreBufferSearchStopsAtTheMaximumLength) {
    DispatchReadPacket p(nullptr, 0, 6, -1, 0, crlf(), 0);
    DispatchSocketPreBuffer pre(4);
    put(pre, "abcdefgh\r\n");
    bool found = true;
    EXPECT_EQ(p.readLengthForTermWithPreBuffer(pre, &found), 6u);
    EXPECT_FALSE(found);

    DispatchReadPacket q(nullptr, 0, 0, -1, 0, crlf(), 0);
    found = false;
    EXPECT_EQ(q.readLengthForTermWithPreBuffer(pre, &found), 10u);
    EXPECT_TRUE(found);
}

TEST(DispatchReadPacket, SearchAfterNewBytesCountsWhatFollowsTheTerminator) {
    DispatchReadPacket p(nullptr, 0, 0, -1, 0, crlf(), 0);
    p.buffer->assign({'x', '\r', '\n', 'y', 'z'});
    p.bytesDone = 1;  // "x" was there before; four new bytes landed
    EXPECT_EQ(p.searchForTermAfterPreBuffering(4), 2);
    p.bytesDone = 0;
    p.buffer->assign({'a', 'b'});
    EXPECT_EQ(p.searchForTermAfterPreBuffering(2), -1);
}

TEST(DispatchReadPacket, OwnBufferGrowsOnlyAsBytesArrive) {
    DispatchReadPacket p(nullptr, 0, 0, -1, size_t{1} << 31, Bytes{}, 0);
    EXPECT_EQ(p.buffer->capacity(), 0u);
    EXPECT_EQ(p.readLengthForNonTermWithHint(10), 10u);
    p.ensureCapacityForAdditionalDataOfLength(10);
    EXPECT_EQ(p.buffer->size(), 10u);
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
