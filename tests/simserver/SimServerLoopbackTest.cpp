// The stand-in in this process on a real loopback socket, with its limits shortened where the
// defaults would make a test slow.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrame.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "foundation/ArchiveClassRegistry.h"
#include "simserver/SimChatMessage.h"
#include "simserver/SimServer.h"
#include "tests/simserver/WireClient.h"

namespace quenbril::test {
namespace {

class SimServerLoopback : public ::testing::Test {
  protected:
    void SetUp() override {
        SimChatMessage::registerEncoder(ArchiveClassRegistry::shared());
        options_.port = 0;
        options_.publish = false;
    }

    /// Starts the server with options_.
    void start() {
        server_ = std::make_unique<SimServer>(options_);
        ASSERT_TRUE(server_->start());
        ASSERT_NE(server_->port(), 0);
    }

    /// A remote that has taken its initial state.
    std::unique_ptr<WireClient> connect() {
        auto c = std::make_unique<WireClient>(server_->port());
        EXPECT_TRUE(c->connected());
        EXPECT_TRUE(c->waitFor("InitialDataReady", 5.0));
        return c;
    }

    static Bytes header(int32_t length) {
        auto h = LinkFrameHeader{0, length}.encode();
        return Bytes(h.begin(), h.end());
    }

    SimOptions options_;
    std::unique_ptr<SimServer> server_;
};

// The default of 5.0 s is the end-to-end tests' to check, with the real program.
TEST_F(SimServerLoopback, AHeaderWithoutItsBodyTimesOutAndAnIdleRemoteStays) {
    options_.frameTimeout = 0.2;
    start();
    auto idle = connect();
    auto headerOnly = connect();
    auto halfHeader = connect();
    // All eight header bytes announce a body that never comes; another remote sends half a
    // header. Both hold a begun frame.
    ASSERT_TRUE(headerOnly->sendRaw(header(100)));
    ASSERT_TRUE(halfHeader->sendRaw(Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(headerOnly->waitForClose(3.0));
    EXPECT_TRUE(halfHeader->waitForClose(3.0));
    // A remote that sends nothing began no frame: it is served on.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(idle->waitFor("LevelData", 1.0)) << i;
    ASSERT_TRUE(idle->send(LinkMessageBuilder::groupClicked(2)));
    EXPECT_TRUE(idle->waitFor("GroupStates", 2.0));
}

TEST_F(SimServerLoopback, AFrameThatKeepsArrivingIsReadHoweverLongItTakes) {
    options_.frameTimeout = 0.5;
    start();
    auto slow = connect();
    auto frame = LinkCodec::encodeFrame(LinkMessageBuilder::groupClicked(3), LinkPeer::Remote);
    ASSERT_TRUE(frame);
    // About 2 s in all, four times the time-out, and a piece every 0.05 s.
    constexpr size_t kPieces = 40;
    const size_t step = frame->size() / kPieces + 1;
    for (size_t at = 0; at < frame->size(); at += step) {
        auto end = frame->begin() + static_cast<std::ptrdiff_t>(std::min(frame->size(), at + step));
        ASSERT_TRUE(slow->sendRaw(Bytes(frame->begin() + static_cast<std::ptrdiff_t>(at), end)));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    auto groups = slow->waitFor("GroupStates", 3.0);
    ASSERT_TRUE(groups) << "the remote was cut off";
    EXPECT_EQ((*groups)["Value"].at(2), Value(1));
}

/// Descriptors this process holds.
size_t openDescriptors() {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

/// The kernel's IPv4 TCP sockets on local port `port`, by state ("01" established, "0A"
/// listening, "04" and "05" closing on this side and waiting for the peer).
std::map<std::string, int> socketStates(uint16_t port) {
    std::map<std::string, int> states;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == port) ++states[state];
    }
    return states;
}

TEST_F(SimServerLoopback, AConnectionBeyondTheSlotsIsClosedAtOnceAndTheLogSaysWhy) {
    start();
    std::vector<std::unique_ptr<WireClient>> held;
    for (size_t i = 0; i < SimServer::kMaxClients; ++i) held.push_back(connect());
    testing::internal::CaptureStderr();
    const size_t before = openDescriptors();
    std::vector<std::unique_ptr<WireClient>> refused;
    for (int i = 0; i < 11; ++i) {
        refused.push_back(std::make_unique<WireClient>(server_->port()));
        ASSERT_TRUE(refused.back()->connected());
    }
    for (auto& r : refused) EXPECT_TRUE(r->waitForClose(3.0));
    // Only the refused remotes' own ends are open here: the stand-in kept none of them, not
    // even half-open in the kernel while those remotes keep their ends.
    EXPECT_EQ(openDescriptors(), before + refused.size());
    auto states = socketStates(server_->port());
    EXPECT_EQ(states["01"], static_cast<int>(SimServer::kMaxClients));
    EXPECT_EQ(states["04"] + states["05"], 0) << "half-open connections on the stand-in's side";
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("refused and reset: 64 remotes connected already"), std::string::npos)
        << log;
    // The served remotes go on.
    EXPECT_TRUE(held.front()->waitFor("LevelData", 3.0));
    EXPECT_TRUE(held.back()->waitFor("LevelData", 3.0));
}

}  // namespace
}  // namespace quenbril::test
