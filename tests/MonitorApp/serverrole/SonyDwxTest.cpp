#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MonitorApp/serverrole/SonyDwx.h"
#include "tests/MonitorApp/serverrole/fakes/SonyReplies.h"

namespace quenbril {
namespace {

struct Calls {
    std::vector<std::string> names;
    std::vector<std::vector<int>> battery, rf;
};

class SonyDwxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sony_dwx_init(&api_, "127.0.0.1", &calls_), 0);
        api_.callback_name = [](int i, const char* t, void* r) {
            static_cast<Calls*>(r)->names.push_back(std::to_string(i) + ":" + t);
        };
        api_.callback_battery = [](int c, int p, void* r) {
            static_cast<Calls*>(r)->battery.push_back({c, p});
        };
        api_.callback_rf_level = [](int c, int a, int b, int act, void* r) {
            static_cast<Calls*>(r)->rf.push_back({c, a, b, act});
        };
    }
    void TearDown() override { sony_dwx_exit(&api_); }
    std::vector<uint8_t> request() {
        std::vector<uint8_t> out(10);
        EXPECT_EQ(api_.get(&api_, out.data(), out.size()), 10);
        return out;
    }
    void parse(const std::vector<uint8_t>& reply) { api_.set(&api_, reply.data(), reply.size()); }

    WMAPI api_;
    Calls calls_;
};

TEST_F(SonyDwxTest, RequestsCarryTheTemplateSequenceAndChecksum) {
    EXPECT_EQ(request(), (std::vector<uint8_t>{1, 1, 0, 1, 0x0B, 0, 1, 0, 0xFF, 0xF1}));
    parse(testing::sonySwitchReply());
    EXPECT_EQ(api_.get_connection_type(&api_), sony::kConnectionTCP);
    EXPECT_EQ(api_.get_connection_port(&api_), sony::kTcpPort);
    // The switch keeps the state, so the sequence goes on.
    EXPECT_EQ(request(), (std::vector<uint8_t>{1, 2, 0, 0, 0x10, 0, 1, 0, 0xFF, 0xEC}));
    for (int i = 3; i <= 255; ++i) request();
    const auto wrapped = request();
    EXPECT_EQ(wrapped[1], 0);
    EXPECT_EQ(wrapped[8] << 8 | wrapped[9], 0x10000 - (1 + 0x10 + 1));
    uint8_t small[9];
    EXPECT_EQ(api_.get(&api_, small, sizeof small), -1);
}

TEST_F(SonyDwxTest, StatusReportsNamesBatteryAndAntennas) {
    testing::SonyChannel one{"Lead", 0xE4, 40, 40, true};
    testing::SonyChannel two{"Backing", 0x1F, 10, 90, true, false};
    parse(testing::sonyStatusReply("Rack A", one, two));
    EXPECT_EQ(calls_.names, (std::vector<std::string>{"0:Rack A", "1:Lead", "2:Backing"}));
    // Only the low five bits count: 0xE4 is four steps, 0x1F thirty-one (below zero).
    EXPECT_EQ(calls_.battery, (std::vector<std::vector<int>>{{1, 80}, {2, -55}}));
    EXPECT_EQ(calls_.rf, (std::vector<std::vector<int>>{{1, 40, 40, 1}, {2, 10, 90, 2}}));
}

TEST_F(SonyDwxTest, AbsentChannelReportsRfOnlyAsAbsent) {
    testing::SonyChannel one{"ExactlySixteen!!", 0x14, 3, 4, true};
    testing::SonyChannel two{"Gone", 0, 0, 0, false};
    parse(testing::sonyStatusReply("NameOfSixteenChX", one, two));
    // Full 16-byte fields without a zero stay within their field.
    EXPECT_EQ(calls_.names, (std::vector<std::string>{"0:NameOfSixteenChX", "1:ExactlySixteen!!"}));
    EXPECT_EQ(calls_.battery, (std::vector<std::vector<int>>{{1, 0}}));
    EXPECT_EQ(calls_.rf, (std::vector<std::vector<int>>{{1, 3, 4, 1}, {2, 0, 0, -1}}));
}

TEST_F(SonyDwxTest, ShortAndOtherRepliesAreIgnored) {
    auto status = testing::sonyStatusReply("R", {"A", 0, 1, 1, true}, {"B", 0, 1, 1, true});
    status.resize(sony::kStatusSize - 1);
    parse(status);
    parse({1, 1, 0, 1});
    auto other = status;
    other[4] = 12;
    parse(other);
    EXPECT_TRUE(calls_.names.empty());
    EXPECT_TRUE(calls_.rf.empty());
    EXPECT_EQ(api_.get_connection_type(&api_), sony::kConnectionUDP);
}

TEST(SonyDwxInit, HostIsBoundedAndExitReleases) {
    WMAPI api;
    const std::string longHost(400, 'h');
    ASSERT_EQ(sony_dwx_init(&api, longHost.c_str(), nullptr), 0);
    EXPECT_EQ(std::string(api.get_connection_host(&api)), longHost.substr(0, sony::kMaxHost));
    EXPECT_EQ(api.get_connection_port(&api), sony::kUdpPort);
    sony_dwx_exit(&api);
    EXPECT_EQ(api.pdata, nullptr);
    EXPECT_EQ(sony_dwx_get_connection_type(&api), -1);
    uint8_t out[10];
    EXPECT_EQ(sony_dwx_get_buffer(&api, out, sizeof out), -1);
}

}  // namespace
}  // namespace quenbril
