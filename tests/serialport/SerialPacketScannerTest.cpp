#include <gtest/gtest.h>

#include <random>

#include "serialport/SerialPacketScanner.h"
#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

/// The packets `descriptor` finds in `stream` by trying every tail of its buffer at every byte.
std::vector<Bytes> everyTailPackets(const SerialPacketDescriptor& descriptor, const Bytes& stream) {
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

std::vector<Bytes> scannedPackets(SerialPacketScanner& scanner, const Bytes& stream) {
    std::vector<Bytes> packets;
    for (uint8_t byte : stream) {
        if (auto packet = scanner.append(byte)) {
            packets.push_back(*packet);
            scanner.clear();
        }
    }
    return packets;
}

TEST(SerialPacketScannerTest, AnExpressionFindsThePacketsThatTryingEveryTailFinds) {
    // Pieces that start, continue, break and end matches, in UTF-8 and out of it.
    const std::vector<std::string> pieces = {"a",        "b",    "c",
                                             "!",        "$",    "GP",
                                             "GGA",      ",",    "1",
                                             "*",        "4F",   "\r\n",
                                             " ",        "é",    "\xC3",
                                             "\xA9",     "\x80", "\xE2\x82\xAC",
                                             "\xE2\x82", "\xFF", "\xF0\x9F\x98\x80"};
    // Word boundaries, lookarounds, anchors, back-references and alternatives whose outcome
    // changes as bytes are added. A buffer of at most 16 bytes keeps every tail followed.
    const std::vector<std::string> patterns = {
        R"(\$GP[A-Z]{3},[^*]*\*[0-9A-F]{2})",
        R"(a\Bb)",
        R"(a\B)",
        R"(a\b)",
        R"(ab|a$)",
        R"(a(?!b))",
        R"((?=ab)a.)",
        R"((a|ab)(c|bcd)?!)",
        R"((a)\1b)",
        R"(é+!)",
        R"([^a]{3})",
        R"(\$.*?\r\n)",
        R"(b*c)",
        R"(€|😀)",
        R"((?<!a)b)",
        R"(.)",
    };
    std::mt19937 random(44);
    for (const std::string& pattern : patterns) {
        auto expression = RegexMatcher::make(pattern);
        ASSERT_TRUE(expression) << pattern;
        for (uint64_t maximum : {1u, 4u, 16u}) {
            auto descriptor =
                SerialPacketDescriptor::withRegularExpression(expression, maximum, Value());
            SerialPacketScanner scanner(descriptor);
            for (int round = 0; round < 40; ++round) {
                Bytes stream;
                for (int i = 0; i < 60; ++i) {
                    const std::string& piece = pieces[random() % pieces.size()];
                    stream.insert(stream.end(), piece.begin(), piece.end());
                }
                scanner.clear();
                ASSERT_EQ(scannedPackets(scanner, stream), everyTailPackets(*descriptor, stream))
                    << pattern << " with at most " << maximum << " bytes, round " << round;
            }
        }
    }
}

TEST(SerialPacketScannerTest, OtherKindsAndAMissingExpressionAnswerAsTheDescriptorDoes) {
    const Bytes stream = bytesOf("<a>PING<b>xx<c");
    for (const auto& descriptor :
         {SerialPacketDescriptor::withPrefix({'<'}, {'>'}, 10, Value()),
          SerialPacketDescriptor::withPacketData(bytesOf("PING"), Value()),
          SerialPacketDescriptor::make(3, Value(), nullptr),
          SerialPacketDescriptor::withRegularExpression(nullptr, 8, Value())}) {
        SerialPacketScanner scanner(descriptor);
        EXPECT_EQ(scannedPackets(scanner, stream), everyTailPackets(*descriptor, stream));
    }
}

}  // namespace
}  // namespace quenbril::test
