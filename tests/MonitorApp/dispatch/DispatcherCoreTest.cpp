#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "MonitorApp/audio/RingBuffer.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/dispatch/LevelFrameBuilder.h"
#include "MonitorApp/dispatch/PerformerBatteryText.h"
#include "MonitorApp/dispatch/StreamBlockWriter.h"

namespace quenbril {
namespace {

std::vector<int8_t> copy(const int8_t* column) { return {column, column + 128}; }

// The dispatcher's tests drive these through "LevelData"; here, the edges of the frame and
// of the SCP positions.
TEST(LevelFrameBuilder, FramesAndAlertColumnsAtTheirEdges) {
    LevelFrameBuilder b;
    EXPECT_EQ(copy(b.column(std::vector<uint8_t>(200, 0x55))), std::vector<int8_t>(128, 0x55));
    auto column = copy(b.column(std::vector<uint8_t>(10, 0xFF)));
    EXPECT_EQ(column[9], -1);
    EXPECT_EQ(column[10], 0);
    EXPECT_EQ(column[127], 0);

    ASSERT_TRUE(b.markSCP(20));
    EXPECT_EQ(copy(b.alertColumn(20))[20], 0);  // 20 bytes reach positions 0..19
    EXPECT_TRUE(b.scpPending(20));
    EXPECT_EQ(copy(b.alertColumn(21))[20], 1);
    EXPECT_FALSE(b.scpPending(20));
    b.setMarkerFlag();
    EXPECT_EQ(copy(b.alertColumn(300)), std::vector<int8_t>(128, 2));
    EXPECT_FALSE(b.markerFlag());
    EXPECT_FALSE(b.markSCP(-1));
    EXPECT_FALSE(b.markSCP(128));
    b.markSCP(127);
    b.clearSCP();
    EXPECT_FALSE(b.scpPending(127));
}

std::vector<uint8_t> samples(std::initializer_list<float> values) {
    std::vector<uint8_t> out;
    for (float f : values) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(bits >> (8 * k)));
    }
    return out;
}

std::vector<std::vector<float>> drain(RingBuffer& ring, int frames) {
    std::vector<std::vector<float>> out(2, std::vector<float>(frames));
    float* channels[2] = {out[0].data(), out[1].data()};
    int got = 0;
    ring.consume(channels, frames, &got, 2);
    EXPECT_EQ(got, frames);
    return out;
}

TEST(StreamBlockWriter, WritesOnlyWholeFramesBothChannelsHoldAndZeroesNonFiniteSamples) {
    RingBuffer ring(2, 64);
    StreamBlockWriter writer;
    auto left = samples({0.5f, std::numeric_limits<float>::quiet_NaN(), 0.25f});
    left.push_back(7);  // a partial sample
    auto right = samples({-0.5f, std::numeric_limits<float>::infinity()});
    StreamBlock block{left, right, 2, false};
    EXPECT_EQ(writer.write(ring, block), 2u);
    EXPECT_EQ(ring.dataInBuffer(), 2);
    auto out = drain(ring, 2);
    EXPECT_EQ(out[0], (std::vector<float>{0.5f, 0.0f}));
    EXPECT_EQ(out[1], (std::vector<float>{-0.5f, 0.0f}));
}

TEST(StreamBlockWriter, AMonoBlockFeedsBothChannelsAndLongBlocksGoInChunks) {
    RingBuffer ring(2, 4096);
    StreamBlockWriter writer;
    std::vector<uint8_t> left;
    for (int i = 0; i < 3000; ++i) {
        auto s = samples({static_cast<float>(i)});
        left.insert(left.end(), s.begin(), s.end());
    }
    StreamBlock block{left, left, 3000, true};
    EXPECT_EQ(writer.write(ring, block), 3000u);
    auto out = drain(ring, 3000);
    EXPECT_EQ(out[0][2999], 2999.0f);
    EXPECT_EQ(out[0], out[1]);
}

TEST(PerformerBatteryText, WithoutAReceiver) {
    EXPECT_EQ(PerformerBatteryText::forBattery(45, nullptr, 0).text, "BAT: 45%");
    EXPECT_FALSE(PerformerBatteryText::forBattery(45, nullptr, 480).text);  // replay running
    EXPECT_EQ(PerformerBatteryText::forBattery(-2, nullptr, 480).text, "No wireless device");
    EXPECT_EQ(PerformerBatteryText::forBattery(-1, nullptr, 0).text, "?");
    EXPECT_EQ(PerformerBatteryText::forBatteryTime("2:30", nullptr).text, "BAT: 2:30");
    EXPECT_FALSE(PerformerBatteryText::forBatteryTime("x", nullptr).text);
}

TEST(PerformerBatteryText, WithAReceiver) {
    WirelessInfoEntry info{"RX1", 606125.0, true, false};
    auto t = PerformerBatteryText::forBattery(80, &info, 0);
    EXPECT_EQ(t.text, "Receiver RX1 BAT: 80%  FREQ: 606.125 MHz");
    EXPECT_EQ(t.quadversity, true);
    EXPECT_EQ(t.singleLine, false);
    EXPECT_EQ(PerformerBatteryText::forBattery(-1, &info, 0).text,
              "Receiver RX1 BAT: ? %  FREQ: 606.125 MHz");
    WirelessInfoEntry noFreq{"RX2", std::nullopt, std::nullopt, std::nullopt};
    auto lost = PerformerBatteryText::forBattery(-2, &noFreq, 0);
    EXPECT_EQ(lost.text, "Receiver RX2 can't be found   ");
    EXPECT_EQ(lost.quadversity, false);
    EXPECT_FALSE(lost.singleLine);
    EXPECT_FALSE(PerformerBatteryText::forBattery(80, &info, 100).text);
    EXPECT_EQ(PerformerBatteryText::forBatteryTime("1h", &info).text,
              "Receiver RX1 BAT: 1h  FREQ: 606.125 MHz");
}

// The dispatcher checks a stored, filtered list; this is the rule itself, first match winning.
TEST(DispatchRules, SnapshotSelectionByOrderIndex) {
    Array names{Array{"A", 4}, Array{}, Value("junk"), Array{"B", 7}, Array{"C", 7}};
    EXPECT_EQ(DispatchRules::snapshotSelection(names, 7), 3);
    EXPECT_EQ(DispatchRules::snapshotSelection(names, 9), 5);
}

}  // namespace
}  // namespace quenbril
