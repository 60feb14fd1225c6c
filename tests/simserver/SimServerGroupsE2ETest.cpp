// The group buttons through reconnections and snapshot changes: every remote shows what the
// stand-in holds. A remote here is a wire client that keeps its group buttons as the remote's
// strip manager does: "GroupStates" sets all eight, and an applied "Snapshot" releases the
// buttons that are on (hard ones stay).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/link/LinkMessageBuilder.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"

namespace quenbril::test {
namespace {

using Builder = LinkMessageBuilder;
using Groups = std::vector<int64_t>;

class GroupRemote {
  public:
    /// Connects and takes the initial state.
    explicit GroupRemote(uint16_t port) : wire_(port) {
        EXPECT_TRUE(readUntil([](const std::string& command) {
            return command == "InitialDataReady";
        })) << "no initial state";
    }

    WireClient& wire() { return wire_; }
    /// The buttons as this remote shows them.
    const Groups& shown() const { return shown_; }
    /// Snapshots applied so far.
    int snapshots() const { return snapshots_; }
    /// The first strip of the list.
    int64_t strip() const { return strip_; }

    /// Reads and applies messages until `done` holds after one of them (given its command);
    /// false when nothing more comes within kPatience seconds.
    bool readUntil(const std::function<bool(const std::string&)>& done) {
        while (auto m = wire_.next(kPatience)) {
            std::string command = WireClient::commandOf(*m);
            if (command == "GroupStates") {
                const Value& v = (*m)["Value"];
                if (v.count() == 8) {
                    for (size_t i = 0; i < 8; ++i) {
                        shown_[i] = v.at(i).longLongValue().value_or(-1);
                    }
                }
            } else if (command == "Channels" && (*m)["Value"].count() > 0) {
                strip_ = (*m)["Value"].at(0)["csID"].longLongValue().value_or(0);
            } else if (command == "Snapshot") {
                ++snapshots_;
                for (int64_t& s : shown_) {
                    if (s == 1) s = 0;
                }
            }
            if (done(command)) return true;
        }
        return false;
    }
    /// Reads until the buttons show `groups`.
    bool readUntilShown(const Groups& groups) {
        return readUntil([&](const std::string&) { return shown_ == groups; });
    }

  private:
    WireClient wire_;
    Groups shown_ = Groups(8, 0);
    int snapshots_ = 0;
    int64_t strip_ = 0;
};

TEST(SimServerGroupsE2E, AGroupSwitchedOnStaysOnForARemoteThatReconnects) {
    SimServerProcess server;
    ASSERT_NE(server.port(), 0) << server.log();
    GroupRemote a(server.port());
    auto b = std::make_unique<GroupRemote>(server.port());
    ASSERT_TRUE(a.wire().send(Builder::groupClicked(8)));
    ASSERT_TRUE(a.wire().send(Builder::groupLongClicked(5)));
    const Groups held{0, 0, 0, 0, 2, 0, 0, 1};
    ASSERT_TRUE(a.readUntilShown(held));
    ASSERT_TRUE(b->readUntilShown(held));

    // The remote restarts.
    b.reset();
    GroupRemote again(server.port());
    EXPECT_EQ(again.shown(), held) << "GR 8 read off after the reconnection";
    // The next click on another group changes that group alone, on every remote.
    ASSERT_TRUE(again.wire().send(Builder::groupClicked(3)));
    const Groups next{0, 0, 1, 0, 2, 0, 0, 1};
    for (GroupRemote* r : {&a, &again}) {
        ASSERT_TRUE(r->readUntil([](const std::string& c) { return c == "GroupStates"; }));
        EXPECT_EQ(r->shown(), next);
    }
}

TEST(SimServerGroupsE2E, ASnapshotChangeReleasesTheGroupsThatAreOnHereAsOnEveryRemote) {
    SimServerProcess server({"--snapshot-interval", "1"});
    ASSERT_NE(server.port(), 0) << server.log();
    GroupRemote a(server.port());
    GroupRemote b(server.port());
    ASSERT_TRUE(a.wire().send(Builder::groupClicked(8)));
    ASSERT_TRUE(a.wire().send(Builder::groupLongClicked(5)));
    auto eightOn = [&](GroupRemote& r) {
        return r.readUntil([&](const std::string&) { return r.shown()[7] == 1; });
    };
    ASSERT_TRUE(eightOn(a));
    ASSERT_TRUE(eightOn(b));
    // The next snapshot comes; every remote releases GR 8, and so does the stand-in.
    for (GroupRemote* r : {&a, &b}) {
        const int before = r->snapshots();
        ASSERT_TRUE(r->readUntil([&](const std::string&) { return r->snapshots() > before; }));
        EXPECT_EQ(r->shown()[7], 0);
        EXPECT_EQ(r->shown()[4], 2) << "a hard group stays hard";
    }
    // A click on another group changes that group alone: GR 8 does not come back.
    ASSERT_TRUE(a.wire().send(Builder::groupClicked(3)));
    for (GroupRemote* r : {&a, &b}) {
        ASSERT_TRUE(r->readUntil([&](const std::string&) { return r->shown()[2] == 1; }));
        EXPECT_EQ(r->shown(), (Groups{0, 0, 1, 0, 2, 0, 0, 0}));
    }
    // A remote that connects now is shown the same.
    GroupRemote c(server.port());
    EXPECT_EQ(c.shown()[7], 0);
    EXPECT_EQ(c.shown()[4], 2);
}

// A remote on a slow link has group states still waiting for it when the snapshot changes. A
// newer copy of the states may take the place of a waiting one, but not of one waiting ahead of
// the snapshot: applied before it, the snapshot would release the group again.
TEST(SimServerGroupsE2E, ARemoteBehindASnapshotChangeEndsUpShowingWhatTheOthersShow) {
    SimServerProcess server({"--snapshot-interval", "1"});
    ASSERT_NE(server.port(), 0) << server.log();
    GroupRemote fast(server.port());
    GroupRemote slow(server.port());
    // A strip listened to: its audio goes to every remote, far faster than the slow one reads.
    ASSERT_TRUE(fast.wire().send(Builder::channelClicked(fast.strip())));
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        while (trickling && slow.wire().trickle(1024)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    struct Stop {
        std::atomic<bool>& flag;
        std::thread& thread;
        ~Stop() {
            flag = false;
            if (thread.joinable()) thread.join();
        }
    } stop{trickling, trickle};
    // Far more waits for the slow remote than its socket buffers and the frames handed to
    // them hold: what is sent to it now waits in the stand-in's queue.
    while (fast.wire().bytesReceived() < slow.wire().bytesReceived() + 900 * 1024) {
        ASSERT_TRUE(fast.wire().next(kPatience)) << "the stream stopped";
    }
    ASSERT_TRUE(fast.wire().send(Builder::groupClicked(2)));
    ASSERT_TRUE(fast.readUntil([&](const std::string&) { return fast.shown()[1] == 1; }));
    const int before = fast.snapshots();
    ASSERT_TRUE(fast.readUntil([&](const std::string&) { return fast.snapshots() > before; }));
    ASSERT_TRUE(fast.wire().send(Builder::groupClicked(3)));
    ASSERT_TRUE(fast.wire().send(Builder::markerAdded("sync")));
    ASSERT_TRUE(fast.readUntil([](const std::string& c) { return c == "MarkerAdded"; }));
    trickling = false;
    trickle.join();
    ASSERT_TRUE(slow.readUntil([](const std::string& c) { return c == "MarkerAdded"; }))
        << "the slow remote was dropped: " << server.log().substr(0, 3000);
    // Both have had the same messages up to here, the slow one perhaps fewer copies of the
    // states: they show the same.
    EXPECT_EQ(slow.shown(), fast.shown());
}

}  // namespace
}  // namespace quenbril::test
