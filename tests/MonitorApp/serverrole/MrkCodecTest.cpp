#include <gtest/gtest.h>

#include <vector>

#include "MonitorApp/serverrole/MrkCodec.h"
#include "tests/MonitorApp/serverrole/fakes/FakeWisycomReceiver.h"

namespace quenbril {
namespace {

using V = std::vector<uint8_t>;

V build(uint8_t command, uint8_t dest) {
    V out(16);
    const int n = mrk_build_command(command, dest, out.data(), out.size());
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

V unescape(const V& in) {
    V out(in.size());
    const int n = mrk_unescape(in.data(), out.data(), in.size());
    if (n < 0) return {};
    out.resize(static_cast<size_t>(n));
    return out;
}

TEST(MrkCodec, FramesCarryTheSequenceAndChecksum) {
    mrk_set_sequence(0);
    EXPECT_EQ(build(MRK_OPEN, 0xFF), (V{0xC0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0xC1}));
    EXPECT_EQ(build(MRK_OPEN, 0xFF)[3], 1);
    mrk_set_sequence(5);
    EXPECT_EQ(build(MRK_NETBUILD, 0xFF), (V{0xC0, 0, 0xFF, 5, 3, 0, 0x11, 4, 1, 0xFE, 0x13, 0xC1}));
    uint8_t small[11];
    EXPECT_EQ(mrk_build_command(MRK_NETBUILD, 0xFF, small, sizeof small), -1);
    mrk_set_sequence(255);
    EXPECT_EQ(build(MRK_STATUS, 2)[3], 255);
    EXPECT_EQ(build(MRK_STATUS, 2)[3], 0);
}

TEST(MrkCodec, EscapingKeepsTheFrameBytesSingle) {
    mrk_set_sequence(0xC0);
    const V c0 = build(MRK_OPEN, 0xFF);
    V out(c0.size() * 2);
    out.resize(mrk_escape(c0.data(), out.data(), c0.size()));
    EXPECT_EQ(out, (V{0xC0, 0, 0xFF, 0x7D, 0xE0, 0, 0, 0, 0x3F, 0xC1}));
    EXPECT_EQ(unescape(out), c0);
    mrk_set_sequence(0x7D);
    const V esc = build(MRK_OPEN, 0xC1);
    out.assign(esc.size() * 2, 0);
    out.resize(mrk_escape(esc.data(), out.data(), esc.size()));
    EXPECT_EQ(V(out.begin() + 2, out.begin() + 6), (V{0x7D, 0xE1, 0x7D, 0x5D}));
    EXPECT_EQ(unescape(out), esc);
    // An escape with nothing after it spoils the frame.
    EXPECT_TRUE(unescape({0xC0, 0x01, 0x7D}).empty());
    EXPECT_EQ(mrk_frame_command(esc.data(), 6), -1);
}

TEST(MrkCodec, RepliesValidateToTheirFlags) {
    mrk_frame_info info;
    const V name =
        unescape(testing::wisycomReply(7, MRK_NAME, V{'L', 'e', 'a', 'd', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(mrk_parse_frame(name.data(), name.size(), &info), 0);
    EXPECT_STREQ(info.name, "Lead");
    EXPECT_EQ(info.source, 7);
    const V flagsZero = unescape(testing::wisycomReply(7, MRK_NAME, V(12, 'x'), 0x00));
    EXPECT_EQ(mrk_parse_frame(flagsZero.data(), flagsZero.size(), &info), 0x400);
    V badSum = name;
    badSum[badSum.size() - 2] ^= 1;
    EXPECT_EQ(mrk_parse_frame(badSum.data(), badSum.size(), &info), 0x10000);
    // The frame's length byte promises more than the frame holds: nothing past it is read.
    V cut(name.begin(), name.end() - 3);
    EXPECT_EQ(mrk_parse_frame(cut.data(), cut.size(), &info), MRK_BAD_LENGTH);
    const V open = unescape(testing::wisycomReply(0xFF, MRK_OPEN, V{1}));
    EXPECT_EQ(mrk_parse_frame(open.data(), open.size(), &info), 0x2000);
    const V net = unescape(testing::wisycomReply(0xFF, MRK_NETBUILD, V{5, 0, 9, 2}));
    EXPECT_EQ(mrk_parse_frame(net.data(), net.size(), &info), 0x4000 | 0x20000);
    const V unknown = unescape(testing::wisycomReply(3, 0x42, V{}, 0x45));
    EXPECT_EQ(mrk_parse_frame(unknown.data(), unknown.size(), &info), 0x800 | 0x05);
    V wrongEnds = unescape(testing::wisycomReply(0, 0x01, V{}));
    wrongEnds[0] = 0x00;
    wrongEnds[2] = 0x09;
    wrongEnds.back() = 0x00;
    EXPECT_EQ(mrk_parse_frame(wrongEnds.data(), wrongEnds.size(), &info),
              0x80 | 0x100 | 0x200 | 0x8000 | 0x10000);
}

TEST(MrkCodec, StatusDecodesBatteryRfAndAntennas) {
    auto decode = [](uint8_t a, uint8_t b, uint8_t ant, uint8_t batt) {
        const V f = unescape(testing::wisycomReply(2, MRK_STATUS, V{0x1C, a, b, 9, ant, batt}));
        mrk_status s;
        mrk_summary sum;
        mrk_decode_status(f.data(), &s, &sum);
        return std::pair{s, sum};
    };
    auto [s, sum] = decode(128, 200, 0x02, 0x53);
    EXPECT_EQ(sum.battery, 75);
    EXPECT_EQ(sum.rfAPercent, 50);
    EXPECT_EQ(sum.rfBPercent, 78);
    EXPECT_EQ(sum.antennaA, 0);
    EXPECT_EQ(sum.antennaB, 1);
    EXPECT_EQ(s.batteryBars, 5);
    EXPECT_EQ(s.flag7bit2 + s.flag7bit3 + s.flag7bit4, 3);
    EXPECT_EQ(s.byte10, 9);
    EXPECT_EQ(decode(0, 0, 0, 0x51).second.battery, -1);
    EXPECT_EQ(decode(0, 0, 0, 0x03).second.battery, 0);
    EXPECT_EQ(decode(0, 0, 0, 0x13).second.battery, 25);
    EXPECT_EQ(decode(0, 0, 0, 0x23).second.battery, 37);
    EXPECT_EQ(decode(255, 0, 1, 0x73).second.battery, 100);
    EXPECT_EQ(decode(255, 0, 1, 0x73).second.rfAPercent, 100);
}

}  // namespace
}  // namespace quenbril
