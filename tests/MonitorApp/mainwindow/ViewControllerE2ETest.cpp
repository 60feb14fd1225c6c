// One headless main window controller against the real stand-in on loopback, with a second
// remote made of the project's codec and a plain socket.

#include <gtest/gtest.h>

#include <QLabel>

#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "ViewControllerTestEnvironment.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

constexpr double kWait = 5.0;

class ViewControllerE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        settings().setChatUsername("alice");
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
    }
    void TearDown() override {
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    bool pumpUntil(const std::function<bool()>& done, double seconds = kWait) {
        return loop_->runUntil(done, seconds);
    }
    void pump(double seconds) { loop_->runFor(seconds); }
    /// A second remote that has taken its initial state.
    std::unique_ptr<test::WireClient> secondRemote() {
        auto c = std::make_unique<test::WireClient>(server_.port());
        EXPECT_TRUE(c->connected());
        EXPECT_TRUE(c->waitFor("InitialDataReady", test::scaledSeconds(kWait)));
        return c;
    }
    /// Waits until the stand-in lists this remote among the chat users.
    bool registeredToChat() {
        return pumpUntil([] {
            for (const ChatClient& c : ChatManager::sharedInstance().chatClients()) {
                if (c.chatName == "alice") return true;
            }
            return false;
        });
    }
    size_t storedWithText(const std::string& text) {
        size_t n = 0;
        for (const auto& m : ChatManager::messages()) n += m->message() == text ? 1 : 0;
        return n;
    }

    test::SimServerProcess server_;
};

TEST_F(ViewControllerE2E, TheStripsAreBuiltAndLevelFramesFillTheHistories) {
    const size_t strips = manager().controllers().size();
    EXPECT_GE(strips, 2u);
    CharRingBuffer& levels = engine().levelRingBuffer();
    const int len = levels.bufferLen();
    const int start = levels.bufferStart();
    auto columns = [&] { return ((levels.bufferStart() - start) % len + len) % len; };
    // Twenty frames are two seconds of the stand-in's ticks; the wait is long enough for a
    // loaded machine and is reached only by a link that stopped.
    ASSERT_TRUE(pumpUntil([&] { return columns() >= 20; }, 30.0)) << columns() << " frames";
    EXPECT_EQ(engine().alertRingBuffer().bufferStart(), levels.bufferStart());
    // The stand-in's signals move: some enabled strip has a level above silence.
    bool any = false;
    for (size_t i = 0; i < strips; ++i) any = any || levels.getLatestSample(int(i)) != 0;
    EXPECT_TRUE(any);
}

TEST_F(ViewControllerE2E, AClickMakesTheStripActiveAndItsAudioArrives) {
    const int64_t csID = manager().controllers()[1]->model().csID();
    engine().clientRing().reset();
    NotificationCenter::defaultCenter().post("CSClicked", Dictionary{{"index", csID}});
    ASSERT_TRUE(pumpUntil([&] {
        return stateOf(csID).channelState() == ChannelStripState::kActive;
    })) << server_.log();
    EXPECT_TRUE(pumpUntil([&] { return engine().clientRing().dataInBuffer() > 0; }))
        << server_.log();
}

// "InitialDataReady" registers this remote to the chat; messages from another remote are stored
// once, this remote's own only after the relay, and a page raises the notifier.
TEST_F(ViewControllerE2E, TheChatWorksBetweenTwoRemotes) {
    auto notifier = std::make_shared<FakeChatNotifier>();
    destinations["showChatNotifier"] = notifier;
    ASSERT_TRUE(registeredToChat()) << server_.log();
    EXPECT_GE(settings().masterVersion(), 3.8f);
    auto bob = secondRemote();
    ASSERT_TRUE(bob->send(LinkMessageBuilder::registerToChat("bob", "BOB-UUID")));
    auto fromBob = [&](const char* text, const char* id, int type, const char* to) {
        return bob->send(LinkMessageBuilder::chatMessageFromClient(Dictionary{{"message", text},
                                                                              {"sender", "bob"},
                                                                              {"messageId", id},
                                                                              {"uuid", "BOB-UUID"},
                                                                              {"type", type},
                                                                              {"recipient", to}}));
    };
    ASSERT_TRUE(fromBob("hello alice", "M-1", 0, "All"));
    ASSERT_TRUE(pumpUntil([&] { return storedWithText("hello alice") > 0; })) << server_.log();
    pump(0.3);
    EXPECT_EQ(storedWithText("hello alice"), 1u);
    EXPECT_TRUE(vc->chatAlarm());

    ASSERT_TRUE(fromBob("bob paging!", "M-2", 5, "alice"));
    ASSERT_TRUE(pumpUntil([&] { return notifier->shown > 0; })) << server_.log();
    EXPECT_NE(notifier->message.find(": bob paging!"), std::string::npos);
    EXPECT_EQ(notifier->sender, "bob");

    NotificationCenter::defaultCenter().post("ChatMessage",
                                             Dictionary{{"message", "from alice"},
                                                        {"sender", "alice"},
                                                        {"messageId", "A-1"},
                                                        {"uuid", ChatManager::uuid()},
                                                        {"type", 0},
                                                        {"recipient", "All"}});
    EXPECT_EQ(storedWithText("from alice"), 0u);
    ASSERT_TRUE(pumpUntil([&] { return storedWithText("from alice") == 1; })) << server_.log();
    EXPECT_EQ(ChatManager::messages().back()->uuid(), ChatManager::uuid());
    EXPECT_FALSE(vc->chatAlarm());
}

TEST_F(ViewControllerE2E, ANoteAddedByThisRemoteReachesTheOther) {
    auto bob = secondRemote();
    ServerManager::sharedInstance().sendDictionary(LinkMessageBuilder::remoteAddedNote(
        "mic 3 rustles", manager().controllers()[0]->model().csID(), "alice", {1, 2, 3, 4},
        800000000.0));
    bool seen = false;
    for (int i = 0; i < 50 && !seen; ++i) {
        pump(0.05);
        while (auto m = bob->next(0.01)) {
            if (test::WireClient::commandOf(*m) != "NotebookEntries") continue;
            if (const Array* notes = (*m)["Values"].arrayValue()) {
                for (const Value& n : *notes) seen = seen || n["Note"] == Value("mic 3 rustles");
            }
        }
    }
    EXPECT_TRUE(seen) << server_.log();
    // This remote's own copy follows too.
    EXPECT_TRUE(pumpUntil([] {
        for (const auto& e : NotebookManager::sharedInstance().notebookEntries()) {
            if (e->note() == "mic 3 rustles") return true;
        }
        return false;
    }));
}

// While the link is down, and while a new connection is pending, a click, a group click and a
// chat line send nothing: the stand-in that comes back on the same port hears the
// reconnection's "SoloOn" and none of them, neither before it nor after.
TEST_F(ViewControllerE2E, ActionsWhileTheLinkIsDownNeverReachTheServerLater) {
    const uint16_t port = server_.port();
    const int64_t csID = manager().controllers()[1]->model().csID();
    ASSERT_TRUE(registeredToChat()) << server_.log();
    server_.stop();
    ASSERT_TRUE(pumpUntil([&] { return !vc->serverIsHere(); })) << "the link did not drop";
    auto act = [&] {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        center.post("CSClicked", Dictionary{{"index", csID}});
        center.post("GroupClicked", Dictionary{{"index", 1}});
        center.post("ChatMessage", Dictionary{{"message", "sent while down"},
                                              {"sender", "alice"},
                                              {"messageId", "D-1"},
                                              {"uuid", ChatManager::uuid()},
                                              {"type", 0},
                                              {"recipient", "All"}});
    };
    act();
    pump(0.2);

    test::SimServerProcess back({"--port", std::to_string(port)});
    ASSERT_EQ(back.port(), port) << back.log();
    ServerManager::sharedInstance().tryToConnect();
    ASSERT_TRUE(ServerManager::sharedInstance().isConnecting());
    act();  // the connect is pending
    ASSERT_TRUE(pumpUntil([&] { return back.log().find(": single solo ") != std::string::npos; }))
        << back.log();
    pump(0.5);
    const std::string log = back.log();
    EXPECT_EQ(log.find("Active strips"), std::string::npos) << log;
    EXPECT_EQ(log.find("toggled"), std::string::npos) << log;
    EXPECT_EQ(log.find("chat message"), std::string::npos) << log;
}

// A dialog continued automatically stores no client name: the status line of the live link must
// not keep the text it had before, such as the server role's.
TEST_F(ViewControllerE2E, ALiveLinkWithoutAStoredClientNameSaysConnected) {
    ASSERT_TRUE(vc->serverIsHere());
    settings().setActAsClient(false);
    vc->updateStatusMessage();
    ASSERT_NE(vc->statusRightText(), "Connected to server");
    settings().setActAsClient(true);
    vc->updateStatusMessage();
    EXPECT_EQ(vc->statusRightText(), "Connected to server");
    EXPECT_FALSE(vc->statusRightIsRed());
    EXPECT_EQ(vc->rightLabel()->text().toStdString(), "Connected to server");
}

}  // namespace
}  // namespace quenbril
