#include <gtest/gtest.h>

#include "MonitorApp/serverrole/VozodCodec.h"
#include "MonitorApp/serverrole/WirelessDevice.h"

namespace quenbril {
namespace {

std::vector<std::string> feed(vozod::LineAssembler& a, std::string_view chunk) {
    std::vector<std::string> out;
    a.feed(chunk, [&](const std::string& l) { out.push_back(l); });
    return out;
}

TEST(VozodCodec, LinesJoinAcrossChunksAndDropStrayText) {
    vozod::LineAssembler a;
    EXPECT_TRUE(feed(a, "junk< REP 1 BATT").empty());
    EXPECT_EQ(feed(a, "_BARS 3 >tail< REP 2 BATT_BARS 5 >"),
              (std::vector<std::string>{"< REP 1 BATT_BARS 3 >", "< REP 2 BATT_BARS 5 >"}));
    // A line over the bound is dropped whole, even when its end comes later; the next line
    // arrives intact.
    EXPECT_TRUE(feed(a, "< " + std::string(vozod::kMaxLine, 'x')).empty());
    EXPECT_TRUE(feed(a, "more >").empty());
    EXPECT_EQ(feed(a, "< REP 1 BATT_BARS 1 >").size(), 1u);
    EXPECT_EQ(a.pending(), "");
}

TEST(VozodCodec, FieldsNamesAndScales) {
    EXPECT_EQ(vozod::fields("< REP  1 >"), (std::vector<std::string>{"<", "REP", "", "1", ">"}));
    EXPECT_EQ(vozod::channelName("< REP 1 CHAN_NAME {Lead 1  } >"), "Lead 1  ");
    EXPECT_FALSE(vozod::channelName("< REP 1 CHAN_NAME Lead >"));
    EXPECT_FALSE(vozod::channelName("< REP 1 CHAN_NAME {Lead >"));
    EXPECT_EQ(vozod::channelName("}{x}"), "x");
    for (auto [in, out] : {std::pair{20, 20},
                           {21, 26},
                           {40, 50},
                           {41, 61},
                           {66, 99},
                           {67, 100},
                           {-5, -5},
                           {INT32_MAX, 100}}) {
        EXPECT_EQ(vozod::scaleRF(in), out) << in;
    }
    EXPECT_EQ(vozod::batteryFromBars(255), -1);
    EXPECT_EQ(vozod::batteryFromBars(3), 60);
    EXPECT_EQ(vozod::batteryFromBars(5), 100);
}

std::vector<std::string> sample(size_t count,
                                std::initializer_list<std::pair<size_t, std::string>> set) {
    std::vector<std::string> f(count, "0");
    for (const auto& [i, v] : set) f[i] = v;
    return f;
}

TEST(VozodCodec, TypeEightSamplesByFieldCount) {
    WirelessDevice d;
    d.setDeviceType(8);
    ASSERT_TRUE(vozod::parseAD4D(sample(14, {{4, "7"}, {8, "AXXX"}, {10, "30"}, {12, "45"}}), d));
    EXPECT_EQ(d.rf(), 67);
    EXPECT_EQ(d.rfA(), 37);
    EXPECT_EQ(d.rfB(), 67);
    EXPECT_EQ(d.quality(), 0);
    EXPECT_TRUE(d.isA_active());
    EXPECT_FALSE(d.isB_active() || d.isC_active() || d.isD_active());

    EXPECT_FALSE(vozod::parseAD4D(sample(15, {{4, "3"}, {10, "90"}}), d));
    EXPECT_EQ(d.rf(), 67);
    EXPECT_EQ(d.quality(), 0);

    ASSERT_TRUE(vozod::parseAD4D(
        sample(27, {{4, "3"}, {8, "XB"}, {10, "5"}, {19, "10"}, {12, "6"}, {21, "2"}, {25, "16"}}),
        d));
    EXPECT_EQ(d.quality(), 3);
    EXPECT_EQ(d.rfA(), 10);
    EXPECT_EQ(d.rfB(), 6);
    EXPECT_EQ(d.rf(), 16);
    EXPECT_TRUE(d.isB_active());
    EXPECT_FALSE(d.isA_active() || d.isC_active());
    ASSERT_TRUE(vozod::parseAD4D(sample(18, {{10, "1"}, {12, "2"}, {14, "3"}, {16, "4"}}), d));
    EXPECT_EQ(d.rf(), 4);
    ASSERT_TRUE(vozod::parseAD4D(sample(19, {{10, "1"}, {15, "8"}, {12, "2"}, {17, "1"}}), d));
    EXPECT_EQ(d.rfA(), 8);
    EXPECT_EQ(d.rfB(), 2);
}

TEST(VozodCodec, OtherSamplesPutRfOnTheAntennaInUse) {
    const auto xb = sample(9, {{4, "XB"}, {5, "40"}, {6, "55"}});
    WirelessDevice ulxd;
    ulxd.setDeviceType(0);
    ASSERT_TRUE(vozod::parseAxientULXD(xb, ulxd, 5));
    EXPECT_EQ(ulxd.rf(), 55);
    EXPECT_EQ(ulxd.rfA(), 0);
    EXPECT_EQ(ulxd.rfB(), 55);
    EXPECT_EQ(ulxd.lastSeen(), 5);
    WirelessDevice axient;
    axient.setDeviceType(1);
    ASSERT_TRUE(vozod::parseAxientULXD(xb, axient, 5));
    EXPECT_EQ(axient.rf(), 55);
    EXPECT_EQ(axient.rfA(), 40);
    EXPECT_EQ(axient.rfB(), 55);
    // Under nine fields "XB" still reads antenna A's figure; levels over 100 are capped.
    ASSERT_TRUE(
        vozod::parseAxientULXD(sample(8, {{4, "AB"}, {5, "140"}, {6, "1e308"}}), axient, 6));
    EXPECT_EQ(axient.rf(), 100);
    EXPECT_EQ(axient.rfA(), 100);
    ASSERT_TRUE(vozod::parseAxientULXD(sample(8, {{4, "XB"}, {5, "12"}, {6, "90"}}), axient, 7));
    EXPECT_EQ(axient.rf(), 12);
    EXPECT_FALSE(vozod::parseAxientULXD(sample(6, {{4, "AX"}}), axient, 8));
    EXPECT_EQ(axient.lastSeen(), 7);
}

}  // namespace
}  // namespace quenbril
