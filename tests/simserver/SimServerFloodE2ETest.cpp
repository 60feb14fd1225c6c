// The stand-in as a real process on loopback under connection churn and message floods: what
// one host does never costs the other remotes their slot, their link or their level frames.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/link/LinkMessageBuilder.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/ThrottledProxy.h"

namespace quenbril::test {
namespace {

using Builder = LinkMessageBuilder;

size_t countOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

/// Connects to the stand-in and closes at once: in order, or with a reset (`reset`).
void connectAndClose(uint16_t port, bool reset) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (reset) {
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::close(fd);
}

class SimServerFloodE2E : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(server_.port(), 0) << server_.log(); }

    /// A remote that has taken its initial state.
    std::unique_ptr<WireClient> connect(uint16_t port = 0) {
        auto c = std::make_unique<WireClient>(port ? port : server_.port());
        EXPECT_TRUE(c->waitFor("InitialDataReady", kPatience));
        return c;
    }

    /// Remotes the stand-in counts as connected, after its log: each served one is logged
    /// connected, and disconnected once it is removed.
    size_t remotesServed() const {
        std::string log = server_.log();
        return countOf(log, " connected from ") - countOf(log, " disconnected");
    }

    SimServerProcess server_;
};

TEST_F(SimServerFloodE2E, ConnectionsClosedAtOnceLeaveNoRemoteBehindAndTheServedOneGoesOn) {
    auto watcher = connect();
    // Many of these close before the stand-in takes them over; each must be removed.
    std::atomic<bool> churning{true};
    std::thread churn([&] {
        for (int i = 0; i < 3000; ++i) connectAndClose(server_.port(), i % 2 == 1);
        churning = false;
    });
    int frames = 0;
    while (churning) {
        if (!watcher->waitFor("LevelData", kFrameWait)) {
            ADD_FAILURE() << "no level frame within " << kFrameWait << " s after " << frames;
            break;
        }
        ++frames;
    }
    churn.join();
    // The watcher reads on while the stand-in removes the closed ones.
    eventually([&] { return remotesServed() == 1; }, kPatience,
               [&] { watcher->waitFor("LevelData", 0.1); });
    EXPECT_EQ(remotesServed(), 1u) << "only the watcher is left";
    auto fresh = connect();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(fresh->waitFor("LevelData", kFrameWait));
    EXPECT_TRUE(watcher->waitFor("LevelData", kFrameWait));
}

// Connections the kernel took while the stand-in was held, and that their peers closed before
// it could look: none is served. One whose peer spoke before it shut down its sending side is.
TEST_F(SimServerFloodE2E, ConnectionsClosedBeforeTheStandInLooksAreNotServed) {
    server_.pause();
    for (int i = 0; i < 20; ++i) connectAndClose(server_.port(), i % 2 == 1);
    WireClient spoke(server_.port());
    ASSERT_TRUE(spoke.send(Builder::clientID(7)));
    spoke.shutdownSending();
    WireClient open(server_.port());
    server_.resume();
    EXPECT_TRUE(open.waitFor("InitialDataReady", kPatience));
    std::string log;
    EXPECT_TRUE(eventually([&] { return (log = server_.log()).find("is client 7") != log.npos; }))
        << log;
    EXPECT_EQ(countOf(log, " connected from "), 2u) << log;
    EXPECT_TRUE(open.waitFor("LevelData", kFrameWait));
}

TEST_F(SimServerFloodE2E, ConnectionsServedOrRefusedMakeNoThread) {
    std::vector<std::unique_ptr<WireClient>> clients;
    for (int i = 0; i < 64; ++i) clients.push_back(connect());
    const int served = server_.threads();
    EXPECT_LT(served, 16) << "the remotes' sockets share their threads";
    int most = served;
    for (int i = 0; i < 1000; ++i) {
        connectAndClose(server_.port(), i % 2 == 1);
        if (i % 10 == 0) most = std::max(most, server_.threads());
    }
    WireClient last(server_.port());
    EXPECT_TRUE(last.waitForClose(kPatience)) << "refused as well";
    EXPECT_EQ(most, served);
    EXPECT_GE(countOf(server_.log(), "refused and reset"), 1000u);
    for (auto& c : clients) c->discard();
    EXPECT_TRUE(clients.front()->waitFor("LevelData", kFrameWait));
}

Dictionary chat(const std::string& text, int k) {
    return {
        {"message", text},        {"sender", "Mallory"}, {"messageId", "ID-" + std::to_string(k)},
        {"uuid", "UUID-Mallory"}, {"type", Value(0)},    {"recipient", "All"}};
}

TEST_F(SimServerFloodE2E, ChatMarkerAndRemovalFloodsCostNoOtherRemoteItsLinkOrItsLevels) {
    // Remotes on links of 1 MB/s (8 Mbit/s): far more than the levels and a chat need, far
    // less than what a remote sending as fast as it can would have relayed.
    std::vector<std::unique_ptr<ThrottledProxy>> links;
    std::vector<std::unique_ptr<WireClient>> readers;
    for (int i = 0; i < 2; ++i) {
        links.push_back(std::make_unique<ThrottledProxy>(server_.port(), 1e6));
        readers.push_back(connect(links.back()->port()));
        ASSERT_TRUE(readers.back()->send(
            Builder::registerToChat("Reader" + std::to_string(i), "UUID-" + std::to_string(i))));
    }
    auto flooder = connect();
    ASSERT_TRUE(flooder->send(Builder::registerToChat("Mallory", "UUID-Mallory")));
    // The readers read all along; each counts its level frames and the flood's messages.
    std::atomic<bool> done{false};
    std::vector<std::string> faults(readers.size());
    std::vector<int> chats(readers.size()), markers(readers.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < readers.size(); ++i) {
        threads.emplace_back([&, i] {
            int frames = 0;
            for (int after = 0; after < 5;) {
                auto m = readers[i]->next(kFrameWait);
                if (!m) {
                    faults[i] = "nothing within " + std::to_string(kFrameWait) + " s after " +
                                std::to_string(frames) + " frames";
                    return;
                }
                std::string command = WireClient::commandOf(*m);
                if (command == "LevelData") {
                    ++frames;
                    if (done) ++after;
                }
                if (command == "ChatMessageFromServer") ++chats[i];
                if (command == "MarkerAdded") ++markers[i];
            }
        });
    }
    const std::string text(15000, 'c');
    const std::string name(200, 'm');
    bool sent = true;
    for (int k = 0; k < 1500 && sent; ++k) {
        sent = flooder->send(Builder::chatMessageFromClient(chat(text, k))) &&
               flooder->send(Builder::markerAdded(name)) &&
               flooder->send(Builder::chatRemoveMessage(name + std::to_string(k)));
        flooder->discard();
    }
    // The flood is over once the flooder's last message has been handled.
    EXPECT_TRUE(sent && flooder->send(Builder::groupClicked(3)));
    EXPECT_TRUE(flooder->waitFor("GroupStates", kPatience));
    done = true;
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < readers.size(); ++i) {
        EXPECT_EQ(faults[i], "") << "reader " << i;
        EXPECT_GE(chats[i], 1) << "the first messages of the flood are relayed";
        EXPECT_GE(markers[i], 1);
    }
    std::string log = server_.log();
    EXPECT_EQ(log.find("dropped:"), std::string::npos) << log.substr(0, 4000);
    EXPECT_EQ(countOf(log, "sends faster than its messages may go on"), 1u) << "logged once";
}

}  // namespace
}  // namespace quenbril::test
