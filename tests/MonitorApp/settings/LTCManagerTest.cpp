#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SettingsTestEnvironment.h"
#include "foundation/Log.h"

namespace quenbril {
namespace {

class LTCManagerTest : public SettingsTest {
  protected:
    // An "LTC" message whose server read the timecode `serverDelay` seconds before sending.
    static Dictionary message(int64_t csID, int fps, SMPTETimecode tc, double serverDelay = 0) {
        return Dictionary{{"Command", "LTC"},
                          {"CSID", csID},
                          {"ReceiveTime", 5000.0},
                          {"SendTime", 5000.0 + serverDelay},
                          {"FPS", fps},
                          {"Hours", tc.hours},
                          {"Minutes", tc.mins},
                          {"Seconds", tc.secs},
                          {"Frames", tc.frame}};
    }

    static LTCManager& ltc() { return LTCManager::sharedInstance(); }
};

TEST_F(LTCManagerTest, FirstMessageOfASourceAddsARecordAndLaterOnesUpdateIt) {
    testing::internal::CaptureStderr();
    ltc().tcReceived(message(41, 25, {1, 2, 3, 4}));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find("New timecode added for 41"), std::string::npos) << logged;
    ASSERT_EQ(ltc().receivedTC().size(), 1u);
    EXPECT_EQ(ltc().receivedTC()[0]->receiveLocalTime(), kStartTime);

    loop_->advance(2);
    testing::internal::CaptureStderr();
    ltc().tcReceived(message(41, 30, {1, 2, 5, 6}));
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("New timecode"), std::string::npos);
    ASSERT_EQ(ltc().receivedTC().size(), 1u);
    const ReceivedLTC& record = *ltc().receivedTC()[0];
    EXPECT_EQ(record.fps(), 30);
    EXPECT_EQ(record.seconds(), 5);
    EXPECT_EQ(record.receiveLocalTime(), kStartTime + 2);
    EXPECT_EQ(ltc().tcCSIndex(), -1);
}

TEST_F(LTCManagerTest, UnknownSourceGivesZeroAndKeepsTheSelectionAndNoIdIsSourceZero) {
    ltc().tcReceived(message(7, 25, {0, 0, 1, 0}));
    ltc().getTimecode(7);
    EXPECT_EQ(ltc().getTimecode(8), SMPTETimecode{});
    ASSERT_TRUE(ltc().selectedLTC());
    EXPECT_EQ(ltc().selectedLTC()->csID(), 7) << "callers tell a missing source by the id";

    ltc().tcReceived(Dictionary{{"Command", "LTC"}, {"Hours", 2}});
    EXPECT_EQ(ltc().receivedTC()[1]->csID(), 0);
    EXPECT_EQ(ltc().getTimecode(0).hours, 2);
}

TEST_F(LTCManagerTest, AnEmptyRecordSlotIsPassedOverByEveryLookUp) {
    ltc().setReceivedTC({nullptr});
    EXPECT_EQ(ltc().recordFor(9), nullptr);
    ltc().tcReceived(message(9, 25, {3, 0, 0, 0}));
    ASSERT_EQ(ltc().receivedTC().size(), 2u);
    EXPECT_EQ(ltc().recordFor(9), ltc().receivedTC()[1]);
    EXPECT_EQ(ltc().getTimecode(9).hours, 3);
}

// Each source keeps its record, in order of first arrival, and every one is found by its id,
// also after the list was replaced (where the first of two records of an id counts).
TEST_F(LTCManagerTest, ManySourcesKeepTheirRecordsInArrivalOrderAndAreFoundByTheirIds) {
    const LogLevel level = logLevel();
    setLogLevel(LogLevel::Warning);
    constexpr int kSources = static_cast<int>(LTCManager::kMaxSources);
    for (int i = 0; i < kSources; ++i)
        ltc().tcReceived(message(kSources - i, 25, {i % 24, 0, 0, 0}));
    ltc().tcReceived(message(5, 25, {23, 59, 0, 0}));
    setLogLevel(level);
    ASSERT_EQ(ltc().receivedTC().size(), static_cast<size_t>(kSources));
    for (int i = 0; i < kSources; ++i) {
        const auto& record = ltc().receivedTC()[static_cast<size_t>(i)];
        ASSERT_EQ(record->csID(), kSources - i);
        ASSERT_EQ(ltc().recordFor(kSources - i), record);
    }
    EXPECT_EQ(ltc().recordFor(5)->minutes(), 59);
    EXPECT_EQ(ltc().recordFor(kSources + 1), nullptr);

    auto first = std::make_shared<ReceivedLTC>();
    first->setCsID(3);
    auto second = std::make_shared<ReceivedLTC>();
    second->setCsID(3);
    ltc().setReceivedTC({first, second});
    EXPECT_EQ(ltc().recordFor(3), first);
    EXPECT_EQ(ltc().recordFor(5), nullptr);
    ltc().tcReceived(message(3, 25, {4, 0, 0, 0}));
    EXPECT_EQ(first->hours(), 4);
    EXPECT_EQ(second->hours(), 0);
}

// A peer that keeps sending new ids fills the list once: past the bound a new source is
// dropped, logged for the first one only, while the kept sources go on being updated and an
// emptied list takes new sources again.
TEST_F(LTCManagerTest, NewSourcesBeyondTheBoundAreDroppedAndLoggedOnce) {
    const LogLevel level = logLevel();
    setLogLevel(LogLevel::Warning);
    constexpr int64_t kKept = static_cast<int64_t>(LTCManager::kMaxSources);
    for (int64_t id = 1; id <= kKept; ++id) ltc().tcReceived(message(id, 25, {1, 0, 0, 0}));
    setLogLevel(level);
    ASSERT_EQ(ltc().receivedTC().size(), LTCManager::kMaxSources);

    testing::internal::CaptureStderr();
    for (int64_t id = kKept + 1; id <= kKept + 500; ++id)
        ltc().tcReceived(message(id, 25, {2, 0, 0, 0}));
    ltc().tcReceived(message(kKept, 25, {3, 0, 0, 0}));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ltc().receivedTC().size(), LTCManager::kMaxSources);
    EXPECT_EQ(ltc().recordFor(kKept + 1), nullptr);
    EXPECT_EQ(ltc().getTimecode(kKept + 500), SMPTETimecode{});
    EXPECT_EQ(ltc().getTimecode(kKept).hours, 3) << "a kept source is still updated";
    const std::string refused = "Timecode of source " + std::to_string(kKept + 1) + " not kept";
    EXPECT_NE(logged.find(refused), std::string::npos) << logged;
    EXPECT_EQ(logged.find("not kept"), logged.rfind("not kept")) << logged;
    EXPECT_EQ(logged.find("New timecode"), std::string::npos) << logged;

    ltc().setReceivedTC({});
    testing::internal::CaptureStderr();
    ltc().tcReceived(message(kKept + 1, 25, {4, 0, 0, 0}));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("New timecode added"), std::string::npos);
    EXPECT_EQ(ltc().getTimecode(kKept + 1).hours, 4);
}

TEST_F(LTCManagerTest, OnlyRecordsUpToOneAndAHalfSecondsOldAreExtrapolated) {
    ltc().tcReceived(message(1, 25, {0, 0, 0, 0}));
    loop_->advance(1.5);
    EXPECT_EQ(ltc().getTimecode(1), (SMPTETimecode{0, 0, 1, 12})) << "37.5 frames, truncated";
    loop_->advance(0.1);
    EXPECT_EQ(ltc().getTimecode(1), (SMPTETimecode{0, 0, 0, 0}));
}

TEST_F(LTCManagerTest, LatencyAdvancesTheFramesAndCarries) {
    // Server delay 0.03 s, read 0.03 s after arrival: 1.5 frames, truncated to one.
    ltc().tcReceived(message(1, 25, {10, 59, 59, 24}, 0.03));
    loop_->advance(0.03);
    EXPECT_EQ(ltc().getTimecode(1), (SMPTETimecode{11, 0, 0, 0}));
    const ReceivedLTC& record = *ltc().selectedLTC();
    EXPECT_EQ(record.correctedFrames(), 0);
    EXPECT_EQ(record.correctedSeconds(), 0);
    EXPECT_EQ(record.correctedTime(), kStartTime + 0.03);

    // Server delay, timecode sent, timecode shown at once.
    for (auto [fps, delay, sent, shown] :
         {std::tuple{25, 0.079, SMPTETimecode{0, 0, 0, 0}, SMPTETimecode{0, 0, 0, 1}},  // 1.975
          {25, 1.42, {1, 2, 3, 20}, {1, 2, 5, 5}},                                      // 35.5
          {30, 0.04, {23, 59, 59, 29}, {24, 0, 0, 0}}}) {  // hours do not wrap
        ltc().tcReceived(message(2, fps, sent, delay));
        EXPECT_EQ(ltc().getTimecode(2), shown) << delay;
    }
}

TEST_F(LTCManagerTest, ZeroFrameRateIsNeverExtrapolated) {
    ltc().tcReceived(message(1, 0, {0, 0, 75, 40}, 0.5));
    EXPECT_EQ(ltc().getTimecode(1), (SMPTETimecode{0, 1, 15, 40}))
        << "no frames to add; seconds above 59 still carry";
    ltc().tcReceived(message(2, -25, {0, 0, 1, 3}, 0.5));
    EXPECT_EQ(ltc().getTimecode(2), (SMPTETimecode{0, 0, 1, 3}));
}

TEST_F(LTCManagerTest, HostileFieldsNeitherOverflowNorLoop) {
    constexpr int kMax = std::numeric_limits<int32_t>::max();
    Dictionary huge = message(1, 1, {kMax, kMax, kMax, kMax});
    huge.set("SendTime", 1e300);
    ltc().tcReceived(huge);
    SMPTETimecode tc = ltc().getTimecode(1);
    EXPECT_EQ(tc.frame, 0);
    EXPECT_GE(tc.secs, 0);
    EXPECT_LT(tc.secs, 60);
    EXPECT_GE(tc.mins, 0);
    EXPECT_LT(tc.mins, 60);
    EXPECT_EQ(tc.hours, kMax) << "saturated, not wrapped around";

    Dictionary undefined = message(2, 25, {1, 0, 0, 10});
    undefined.set("SendTime", std::nan(""));
    ltc().tcReceived(undefined);
    EXPECT_EQ(ltc().getTimecode(2), (SMPTETimecode{1, 0, 0, 10}));

    // A server clock that stepped back: nothing is added, no negative frames.
    ltc().tcReceived(message(3, 25, {1, 0, 0, 10}, -30));
    EXPECT_EQ(ltc().getTimecode(3), (SMPTETimecode{1, 0, 0, 10}));

    // 10^15 frames to add stop at the largest int, 2147483647: 2147 s and 483647 frames.
    ltc().tcReceived(message(4, 1000000, {0, 0, 0, 0}, 1e9));
    EXPECT_EQ(ltc().getTimecode(4), (SMPTETimecode{0, 35, 47, 483647}));
}

}  // namespace
}  // namespace quenbril
