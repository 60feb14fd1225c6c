#include <gtest/gtest.h>

#include <vector>

#include "MonitorApp/link/LinkFrame.h"
#include "MonitorApp/link/LinkFrameReader.h"

namespace quenbril {
namespace {

Bytes header(int32_t marker, int32_t length) {
    auto h = LinkFrameHeader{marker, length}.encode();
    return Bytes(h.begin(), h.end());
}

Bytes body(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

std::vector<LinkFrame> drain(LinkFrameReader& reader) {
    std::vector<LinkFrame> frames;
    while (auto f = reader.takeFrame()) frames.push_back(std::move(*f));
    return frames;
}

std::vector<LinkFrame> readAll(LinkPeer side, const Bytes& stream) {
    LinkFrameReader reader(side);
    reader.feed(stream.data(), stream.size());
    return drain(reader);
}

TEST(LinkFrameHeader, IsTwoLittleEndianSignedIntegersAndTheWriterPutsItsMarker) {
    EXPECT_EQ(header(123, 300), (Bytes{0x7B, 0, 0, 0, 0x2C, 0x01, 0, 0}));
    const uint8_t negative[] = {0x7B, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    auto h = LinkFrameHeader::decode(negative);
    EXPECT_EQ(h.marker, 123);
    EXPECT_EQ(h.length, -1);
    Bytes expected = header(0, 300);
    append(expected, body(300, 1));
    EXPECT_EQ(*makeLinkFrame(LinkPeer::Remote, body(300, 1)), expected);
    EXPECT_EQ((*makeLinkFrame(LinkPeer::Server, Bytes{9}))[0], 123);
    // No body a reader would refuse.
    Error error;
    EXPECT_TRUE(makeLinkFrame(LinkPeer::Remote, Bytes(LinkFrameHeader::kMaxLength)));
    EXPECT_FALSE(makeLinkFrame(LinkPeer::Remote, Bytes(LinkFrameHeader::kMaxLength + 1), &error));
    EXPECT_EQ(error.domain, LinkFrameHeader::kErrorDomain);
    EXPECT_EQ(error.code, LinkFrameHeader::kBodyTooLong);
}

TEST(LinkFrameReaderRemote, DropsShortNegativeAndForeignHeadersWithoutResynchronising) {
    Bytes stream = header(123, 4);
    append(stream, Bytes{1, 2, 3, 4});
    append(stream, header(123, 3));  // dropped: the next 8 bytes are the next header
    append(stream, header(123, 2));
    // A short header's "body" is read as the next header: these 8 bytes announce marker
    // 0x0201 and are dropped too.
    append(stream, Bytes{1, 2, 0, 0, 9, 9, 9, 9});
    append(stream, header(123, -1));
    append(stream, header(123, INT32_MIN));
    append(stream, header(0, INT32_MAX));  // the remote's own marker, even with a huge length
    append(stream, header(124, 8));
    append(stream, header(123, 5));
    append(stream, Bytes{5, 6, 7, 8, 9});
    LinkFrameReader reader(LinkPeer::Remote);
    reader.feed(stream.data(), stream.size());
    EXPECT_EQ(drain(reader), (std::vector<LinkFrame>{{123, {1, 2, 3, 4}}, {123, {5, 6, 7, 8, 9}}}));
    EXPECT_EQ(reader.droppedHeaders(), 7u);
    EXPECT_FALSE(reader.failed());
}

TEST(LinkFrameReaderRemote, LengthOverTheCapFailsTheConnectionAndAtTheCapGrowsWithTheBytes) {
    LinkFrameReader reader(LinkPeer::Remote);
    Bytes stream = header(123, LinkFrameHeader::kMaxLength + 1);
    append(stream, header(123, 4));
    append(stream, Bytes{1, 2, 3, 4});
    reader.feed(stream.data(), stream.size());
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.error().code, LinkFrameHeader::kTooLong);
    EXPECT_FALSE(reader.hasFrame());

    LinkFrameReader atCap(LinkPeer::Remote);
    stream = header(123, LinkFrameHeader::kMaxLength);
    append(stream, body(1000, 3));
    atCap.feed(stream.data(), stream.size());
    EXPECT_FALSE(atCap.failed());
    EXPECT_FALSE(atCap.hasFrame());
    EXPECT_EQ(atCap.pendingBytes(), 1000u);
}

TEST(LinkFrameReaderServer, TakesAnyMarkerWithAPositiveLength) {
    Bytes stream = header(0, 1);
    append(stream, Bytes{42});
    append(stream, header(100, 3));
    append(stream, Bytes{1, 2, 3});
    append(stream, header(-7, 2));
    append(stream, Bytes{4, 5});
    EXPECT_EQ(readAll(LinkPeer::Server, stream),
              (std::vector<LinkFrame>{{0, {42}}, {100, {1, 2, 3}}, {-7, {4, 5}}}));
}

TEST(LinkFrameReaderServer, AFrameIsInProgressFromItsFirstHeaderByteToItsLastBodyByte) {
    LinkFrameReader reader(LinkPeer::Server);
    EXPECT_FALSE(reader.inFrame());
    Bytes h = header(0, 2);
    reader.feed(h.data(), 3);
    EXPECT_TRUE(reader.inFrame());
    reader.feed(h.data() + 3, 5);
    EXPECT_TRUE(reader.inFrame()) << "a whole header and no body byte yet";
    EXPECT_EQ(reader.pendingBytes(), 0u);
    Bytes b = body(2, 1);
    reader.feed(b.data(), 1);
    EXPECT_TRUE(reader.inFrame());
    reader.feed(b.data() + 1, 1);
    EXPECT_FALSE(reader.inFrame());
    EXPECT_TRUE(reader.hasFrame());
}

TEST(LinkFrameReaderServer, ZeroNegativeOrOversizedLengthFailsTheConnection) {
    for (int32_t length : {0, -1, INT32_MIN, LinkFrameHeader::kMaxLength + 1, INT32_MAX}) {
        LinkFrameReader reader(LinkPeer::Server);
        Bytes stream = header(0, length);
        append(stream, header(0, 1));
        append(stream, Bytes{1});
        reader.feed(stream.data(), stream.size());
        EXPECT_TRUE(reader.failed()) << length;
        EXPECT_FALSE(reader.hasFrame()) << length;
        EXPECT_EQ(reader.error().code,
                  length > 0 ? LinkFrameHeader::kTooLong : LinkFrameHeader::kBadLength);
    }
    LinkFrameReader smallCap(LinkPeer::Server, 16);
    Bytes stream = header(0, 17);
    smallCap.feed(stream.data(), stream.size());
    EXPECT_TRUE(smallCap.failed());
}

/// A stream with frames of several sizes and, for the remote, headers it must drop.
Bytes mixedStream(LinkPeer side) {
    Bytes stream;
    int32_t marker = side == LinkPeer::Remote ? 123 : 0;
    for (size_t n : {4u, 1u, 200u, 9u, 70000u, 8u}) {
        if (n < 4 && side == LinkPeer::Remote) {
            append(stream, header(123, static_cast<int32_t>(n)));  // dropped
            continue;
        }
        append(stream, header(marker, static_cast<int32_t>(n)));
        append(stream, body(n, static_cast<uint8_t>(n)));
        if (side == LinkPeer::Remote) append(stream, header(0, 12));  // dropped
    }
    return stream;
}

TEST(LinkFrameReader, StreamCutAtEveryBoundaryYieldsTheSameFrames) {
    for (LinkPeer side : {LinkPeer::Remote, LinkPeer::Server}) {
        Bytes stream = mixedStream(side);
        auto expected = readAll(side, stream);
        ASSERT_EQ(expected.size(), side == LinkPeer::Remote ? 5u : 6u);
        // Two pieces, cut at every position (the big body is cut every 97 bytes to stay quick).
        for (size_t cut = 0; cut <= stream.size(); cut += (cut > 300 && cut < 70200) ? 97 : 1) {
            LinkFrameReader reader(side);
            reader.feed(stream.data(), cut);
            reader.feed(stream.data() + cut, stream.size() - cut);
            ASSERT_EQ(drain(reader), expected) << "cut at " << cut;
        }
        // One byte at a time.
        LinkFrameReader reader(side);
        for (uint8_t byte : stream) reader.feed(&byte, 1);
        EXPECT_EQ(drain(reader), expected);
    }
}

}  // namespace
}  // namespace quenbril
