// The stand-in in this process on a real loopback socket, with its limits shortened where the
// defaults would make a test slow.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
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
        EXPECT_TRUE(c->waitFor("InitialDataReady", kPatience));
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
    EXPECT_TRUE(headerOnly->waitForClose(kPatience));
    EXPECT_TRUE(halfHeader->waitForClose(kPatience));
    // A remote that sends nothing began no frame: it is served on.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(idle->waitFor("LevelData", kFrameWait)) << i;
    ASSERT_TRUE(idle->send(LinkMessageBuilder::groupClicked(2)));
    EXPECT_TRUE(idle->waitFor("GroupStates"));
}

TEST_F(SimServerLoopback, AFrameThatKeepsArrivingIsReadHoweverLongItTakes) {
    // 0.5 s in a plain build: a piece that comes ten times as often is late only on a machine
    // too busy to run the test.
    options_.frameTimeout = scaledSeconds(0.5);
    start();
    auto slow = connect();
    auto frame = LinkCodec::encodeFrame(LinkMessageBuilder::groupClicked(3), LinkPeer::Remote);
    ASSERT_TRUE(frame);
    // Three times the time-out in all, and a piece every tenth of it.
    constexpr size_t kPieces = 30;
    const size_t step = frame->size() / kPieces + 1;
    for (size_t at = 0; at < frame->size(); at += step) {
        auto end = frame->begin() + static_cast<std::ptrdiff_t>(std::min(frame->size(), at + step));
        ASSERT_TRUE(slow->sendRaw(Bytes(frame->begin() + static_cast<std::ptrdiff_t>(at), end)));
        std::this_thread::sleep_for(std::chrono::duration<double>(options_.frameTimeout / 10));
    }
    auto groups = slow->waitFor("GroupStates");
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
/// listening, "04" and "05" closing on this side and waiting for the peer). The table is read
/// a page at a time while other programs open and close sockets: a line may come twice, so
/// each connection counts once.
std::map<std::string, int> socketStates(uint16_t port) {
    std::set<std::string> seen;
    std::map<std::string, int> states;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (std::stoul(local.substr(local.find(':') + 1), nullptr, 16) != port) continue;
        if (seen.insert(local + " " + remote + " " + state).second) ++states[state];
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
    for (auto& r : refused) EXPECT_TRUE(r->waitForClose(kPatience));
    // Only the refused remotes' own ends stay open here: the stand-in keeps none of them, not
    // even half-open in the kernel while those remotes keep their ends. A remote sees its
    // connection reset as the stand-in lets go of it, which may still be finishing, and a line
    // of the kernel's table may be missed while other programs' sockets come and go: look
    // again until what is checked holds, and judge the last look.
    size_t descriptors = 0;
    std::map<std::string, int> states;
    eventually(
        [&] {
            descriptors = openDescriptors();
            states = socketStates(server_->port());
            return descriptors == before + refused.size() &&
                   states["01"] == static_cast<int>(SimServer::kMaxClients) &&
                   states["04"] + states["05"] == 0;
        },
        kPatience, [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    EXPECT_EQ(descriptors, before + refused.size());
    EXPECT_EQ(states["01"], static_cast<int>(SimServer::kMaxClients));
    EXPECT_EQ(states["04"] + states["05"], 0) << "half-open connections on the stand-in's side";
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("refused and reset: 64 remotes connected already"), std::string::npos)
        << log;
    // The served remotes go on.
    EXPECT_TRUE(held.front()->waitFor("LevelData", kFrameWait));
    EXPECT_TRUE(held.back()->waitFor("LevelData", kFrameWait));
}

// A remote sending markers, removals and chat registrations as fast as its link takes them:
// the others' level frames go on coming, one for (nearly) every tick that falls due. Counted in
// ticks, not seconds, so a busy machine that slows the stand-in and the remotes alike changes
// nothing.
TEST_F(SimServerLoopback, ARemoteSendingAtFullSpeedCostsAReaderNoLevelFrames) {
    start();
    auto reader = connect();
    ASSERT_TRUE(reader->send(LinkMessageBuilder::registerToChat("Reader", "UUID-Reader")));
    std::atomic<uint64_t> received{0};
    std::atomic<bool> reading{true};
    std::thread readerThread([&] {
        while (reading) {
            auto m = reader->next(0.2);
            if (m && WireClient::commandOf(*m) == "LevelData") ++received;
        }
    });
    struct Join {
        std::atomic<bool>& reading;
        std::thread& thread;
        ~Join() {
            reading = false;
            thread.join();
        }
    } join{reading, readerThread};
    auto flooder = connect();
    auto waitForFrames = [&](uint64_t count) {
        return eventually([&] { return received >= count; });
    };
    ASSERT_TRUE(waitForFrames(3));
    testing::internal::CaptureStderr();
    const uint64_t due0 = server_->ticksDue(), run0 = server_->ticksRun(), got0 = received;

    // Markers, removals and registrations that rename the flooder (each would change the list
    // of the chat's users), until the reader has had 30 level frames.
    bool sent = true;
    int registrations = 0;
    for (int k = 0; sent && received < got0 + 30 && k < 1000000; ++k) {
        switch (k % 3) {
            case 0:
                sent = flooder->send(LinkMessageBuilder::markerAdded("Mallory"));
                break;
            case 1:
                sent =
                    flooder->send(LinkMessageBuilder::chatRemoveMessage("ID-" + std::to_string(k)));
                break;
            default:
                ++registrations;
                sent = flooder->send(LinkMessageBuilder::registerToChat(
                    "Mallory " + std::to_string(k % 2), "UUID-Mallory"));
        }
        if (k % 64 == 0) flooder->discard();
    }
    ASSERT_TRUE(sent);
    // The flood is over once its last message is handled.
    ASSERT_TRUE(flooder->send(LinkMessageBuilder::groupClicked(4)));
    for (bool answered = false; !answered;) {
        auto m = flooder->next(3 * kPatience);
        ASSERT_TRUE(m) << "the flooder was cut off";
        answered = WireClient::commandOf(*m) == "GroupStates";
    }
    const uint64_t due = server_->ticksDue() - due0, run = server_->ticksRun() - run0;
    // What was sent until now reaches the reader (one frame may have gone before got0).
    waitForFrames(got0 + run - 1);
    const uint64_t got = received - got0;
    // Registrations beyond the flooder's allowance changed nothing and went to nobody.
    std::string log = testing::internal::GetCapturedStderr();
    size_t renames = 0;
    for (size_t at = log.find("renamed itself"); at != std::string::npos;
         at = log.find("renamed itself", at + 1)) {
        ++renames;
    }
    EXPECT_LT(renames * 10, static_cast<size_t>(registrations)) << renames;
    EXPECT_NE(log.find("chat registrations, markers, removals"), std::string::npos) << log;
    EXPECT_GE(got * 4, due * 3) << got << " level frames for " << due << " ticks due (" << run
                                << " ran)";
}

}  // namespace
}  // namespace quenbril::test
