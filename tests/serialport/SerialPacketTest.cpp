#include <gtest/gtest.h>

#include <random>

#include "serialport/SerialBuffer.h"
#include "serialport/SerialPacketDescriptor.h"
#include "serialport/SerialRequest.h"
#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

/// Feeds `stream` byte by byte as a listening port does: append, look at the end, and clear
/// the buffer after each packet.
std::vector<Bytes> packetsOf(const SerialPacketDescriptor& descriptor, const Bytes& stream) {
    SerialBuffer buffer(descriptor.maximumPacketLength());
    std::vector<Bytes> packets;
    for (uint8_t byte : stream) {
        buffer.appendByte(byte);
        if (auto packet = descriptor.packetMatchingAtEndOfBuffer(buffer.data())) {
            packets.push_back(*packet);
            buffer.clearBuffer();
        }
    }
    return packets;
}

TEST(SerialBufferTest, KeepsTheNewestBytesUpToItsMaximum) {
    SerialBuffer buffer(4);
    int changes = 0;
    buffer.setChangeHandler([&] { ++changes; });
    buffer.appendData(bytesOf("abcdef"));
    EXPECT_EQ(Bytes(buffer.data().begin(), buffer.data().end()), bytesOf("cdef"));
    for (int i = 0; i < 5000; ++i) buffer.appendByte(static_cast<uint8_t>('0' + i % 10));
    EXPECT_EQ(Bytes(buffer.data().begin(), buffer.data().end()), bytesOf("6789"));
    buffer.clearBuffer();
    EXPECT_TRUE(buffer.data().empty());
    EXPECT_EQ(changes, 5002) << "one announcement per append and per clear";

    SerialBuffer none(0);
    none.appendData(bytesOf("abc"));
    EXPECT_TRUE(none.data().empty());
}

TEST(SerialPacketDescriptorTest, PrefixAndSuffixPacketsClearTheBufferEachTime) {
    auto descriptor = SerialPacketDescriptor::withPrefix({0x3C}, {0x3E}, 10, Value());
    EXPECT_EQ(packetsOf(*descriptor, {0x3C, 0x61, 0x3E, 0x3C, 0x62, 0x3E}),
              (std::vector<Bytes>{{0x3C, 0x61, 0x3E}, {0x3C, 0x62, 0x3E}}));
    // Noise before a packet is left behind; a packet longer than the maximum is never found.
    EXPECT_EQ(packetsOf(*descriptor, bytesOf("xx<a>")), (std::vector<Bytes>{bytesOf("<a>")}));
    EXPECT_TRUE(packetsOf(*descriptor, bytesOf("<123456789abc>")).empty());

    auto overlapping = SerialPacketDescriptor::withPrefixString("ab", "ba", 10, Value());
    EXPECT_TRUE(overlapping->dataIsValidPacket(bytesOf("aba")))
        << "prefix and suffix are tested apart and may overlap";
    EXPECT_FALSE(overlapping->dataIsValidPacket(bytesOf("a")));
    auto suffixOnly = SerialPacketDescriptor::withPrefixString(std::nullopt, "\r\n", 64, Value());
    EXPECT_EQ(packetsOf(*suffixOnly, bytesOf("OK\r\nERR\r\n")),
              (std::vector<Bytes>{bytesOf("\r\n"), bytesOf("\r\n")}))
        << "the shortest tail ending in the suffix wins";
    auto neither = SerialPacketDescriptor::withPrefix({}, {}, 10, Value());
    EXPECT_FALSE(neither->dataIsValidPacket(bytesOf("anything")));
}

TEST(SerialPacketDescriptorTest, FixedPacketsDefaultTestAndEvaluators) {
    auto fixed = SerialPacketDescriptor::withPacketData(bytesOf("PING"), Value("user"));
    EXPECT_EQ(fixed->maximumPacketLength(), 4u);
    EXPECT_EQ(fixed->userInfo(), Value("user"));
    EXPECT_EQ(packetsOf(*fixed, bytesOf("PIPINGNGPING")),
              (std::vector<Bytes>{bytesOf("PING"), bytesOf("PING")}));
    EXPECT_FALSE(fixed->dataIsValidPacket(bytesOf("PINGS")));

    auto anyByte = SerialPacketDescriptor::make(16, Value(), nullptr);
    EXPECT_EQ(packetsOf(*anyByte, bytesOf("abc")).size(), 3u) << "every byte is a packet";
    EXPECT_FALSE(anyByte->dataIsValidPacket(Bytes{}));

    auto twoBytes = SerialPacketDescriptor::make(
        8, Value(), [](std::span<const uint8_t> data) { return data.size() == 2; });
    EXPECT_EQ(packetsOf(*twoBytes, bytesOf("abcd")),
              (std::vector<Bytes>{bytesOf("ab"), bytesOf("cd")}));

    auto request =
        SerialRequest::requestWithDataToSend(bytesOf("?"), Value(), 0, SerialResponseEvaluator{});
    EXPECT_EQ(request->responseDescriptor()->maximumPacketLength(),
              SerialPacketDescriptor::kEvaluatorMaximumLength);
    EXPECT_TRUE(request->dataIsValidResponse(bytesOf("x")));
    EXPECT_TRUE(SerialRequest::requestWithDataToSend({}, Value(), 0, SerialPacketDescriptor::Ptr{})
                    ->dataIsValidResponse(Bytes{}));
}

TEST(SerialPacketDescriptorTest, RegularExpressionsMatchValidTextFromItsStart) {
    auto expression = RegexMatcher::make(R"(\$GP[A-Z]+,[0-9]+\*[0-9A-F]{2})");
    ASSERT_TRUE(expression);
    auto nmea = SerialPacketDescriptor::withRegularExpression(expression, 64, Value());
    EXPECT_EQ(packetsOf(*nmea, bytesOf("junk$GPGGA,123*4Fmore$GPRMC,9*00")),
              (std::vector<Bytes>{bytesOf("$GPGGA,123*4F"), bytesOf("$GPRMC,9*00")}));
    EXPECT_FALSE(nmea->dataIsValidPacket(bytesOf("x$GPGGA,1*4F"))) << "anchored at the start";

    auto word =
        SerialPacketDescriptor::withRegularExpression(RegexMatcher::make("é+!"), 8, Value());
    EXPECT_TRUE(word->dataIsValidPacket(bytesOf("éé!")));
    EXPECT_FALSE(word->dataIsValidPacket(Bytes{0xC3, 0x28, '!'})) << "invalid UTF-8 is no text";

    // A pattern that backtracks exponentially is cut off by the match limit, not run for ever.
    auto catastrophic =
        SerialPacketDescriptor::withRegularExpression(RegexMatcher::make("(a+)+$"), 64, Value());
    EXPECT_FALSE(catastrophic->dataIsValidPacket(bytesOf(std::string(40, 'a') + "b")));

    EXPECT_FALSE(RegexMatcher::make("(unclosed"));
    auto none = SerialPacketDescriptor::withRegularExpression(nullptr, 8, Value());
    EXPECT_FALSE(none->dataIsValidPacket(bytesOf("a")));
}

TEST(SerialPacketDescriptorTest, IdentityIsTheUuid) {
    auto a = SerialPacketDescriptor::withPacketData(bytesOf("x"), Value());
    auto b = SerialPacketDescriptor::withPacketData(bytesOf("x"), Value());
    EXPECT_EQ(*a, *a);
    EXPECT_FALSE(*a == *b);
    EXPECT_EQ(a->uuid().size(), 36u);
    EXPECT_EQ(a->uuid()[14], '4') << "a version-4 UUID";
    auto request = SerialRequest::requestWithDataToSend(bytesOf("hi"), Value(), 1.5,
                                                        SerialPacketDescriptor::Ptr{});
    EXPECT_NE(request->description().find("timeout interval: 1.500000"), std::string::npos);
}

using SerialPacketPortTest = SerialFixture;

TEST_F(SerialPacketPortTest, EveryDescriptorKindFindsItsPacketsAcrossArbitraryChunks) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    auto brackets = SerialPacketDescriptor::withPrefix({'<'}, {'>'}, 10, Value());
    auto fixed = SerialPacketDescriptor::withPacketData(bytesOf("PING"), Value());
    auto nmea = SerialPacketDescriptor::withRegularExpression(
        RegexMatcher::make(R"(\$GP[A-Z]+\*[0-9A-F]{2})"), 32, Value());
    for (const auto& d : {brackets, fixed, nmea}) {
        port->startListeningForPacketsMatchingDescriptor(d);
        port->startListeningForPacketsMatchingDescriptor(d);
    }
    EXPECT_EQ(port->packetDescriptors().size(), 3u) << "a descriptor is registered once";

    Bytes stream;
    std::string unit = "<a>xPINGy$GPGGA*4Fz<bc>";
    for (int i = 0; i < 20; ++i) stream.insert(stream.end(), unit.begin(), unit.end());
    std::mt19937 random(29);
    for (size_t at = 0; at < stream.size();) {
        size_t length = std::min<size_t>(1 + random() % 7, stream.size() - at);
        pair->write(Bytes(stream.begin() + static_cast<ptrdiff_t>(at),
                          stream.begin() + static_cast<ptrdiff_t>(at + length)));
        at += length;
        if (random() % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(waitFor([&] { return recorder.packets.size() >= 80; }));
    ASSERT_TRUE(drainMain());
    std::vector<Bytes> expected;
    for (int i = 0; i < 20; ++i) {
        for (const char* packet : {"<a>", "PING", "$GPGGA*4F", "<bc>"}) {
            expected.push_back(bytesOf(packet));
        }
    }
    EXPECT_EQ(recorder.packets, expected);

    port->stopListeningForPacketsMatchingDescriptor(fixed);
    EXPECT_EQ(port->packetDescriptors().size(), 2u);
    port->close();
}

}  // namespace
}  // namespace quenbril::test
