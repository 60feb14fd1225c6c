// The remote's start and reconnection by manual address: a headless main window, its
// connection dialog and the shared server link, against a loopback server that speaks the link's
// frames and against the real stand-in.

#include <chrono>
#include <cstring>

#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

class RemoteStart : public LifeCycleTest {
  protected:
    void SetUp() override {
        LifeCycleTest::SetUp();
        server = std::make_unique<FrameServer>();
        link().setPort(server->port());
        defaults().setInteger(1, "useManualIP");
        defaults().setObject(Value("127.0.0.1"), "manualIP");
        // Chosen at an earlier run.
        defaults().setInteger(1, "clientID");
        defaults().setObject(Value("Client 2"), "clientName");
    }
    void TearDown() override {
        server.reset();
        LifeCycleTest::TearDown();
    }

    /// Opens the window; the dialog connects to the server.
    void startAndConnect() {
        start();
        ASSERT_NE(dialog(), nullptr);
        ASSERT_TRUE(server->acceptWithin(*loop_));
        ASSERT_TRUE(
            waitFor([&] { return dialog()->statusText()->text() == "Connected to server"; }));
    }
    /// Confirms the dialog and waits for the "ClientID" it sends.
    void confirm() {
        dialog()->confirmClicked();
        ASSERT_TRUE(waitFor([&] { return !server->messages().empty(); }));
    }
    /// Confirms the dialog of a first start and takes the connection that replaces the one the
    /// dialog made.
    void confirmFirstStart() {
        dialog()->confirmClicked();
        ASSERT_TRUE(server->acceptWithin(*loop_));
        ASSERT_TRUE(waitFor([&] { return !server->messages().empty(); }));
    }
    /// The server's state is in ("InitialDataReady"): from now on the server is here.
    void serverSendsItsState() {
        ASSERT_TRUE(server->sendMessage(command("InitialDataReady", true)));
        ASSERT_TRUE(waitFor([&] { return link().serverIsHere(); }));
    }
    /// Gives stray messages a moment to arrive.
    void settle() { loop_->runFor(0.2); }
    bool disconnected() {
        return waitFor([&] { return vc->statusRightText() == "NOT CONNECTED TO SERVER"; });
    }

    std::unique_ptr<FrameServer> server;
};

TEST_F(RemoteStart, OnALaterStartTheDialogConnectsFirstAndConfirmingSendsOnlyTheClientID) {
    settings().setActAsClient(true);  // stored at an earlier run
    startAndConnect();
    settle();
    EXPECT_TRUE(server->messages().empty()) << "a connection with the dialog open sends nothing";
    EXPECT_FALSE(vc->isInitialized());

    confirm();
    settle();
    EXPECT_EQ(server->messages(), (std::vector<Dictionary>{command("ClientID", 1)}));
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_EQ(vc->statusRightText(), "NOT CONNECTED TO SERVER") << "until the state is in";
    serverSendsItsState();
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");
    EXPECT_FALSE(vc->statusRightIsRed());
}

// No role is stored before the first confirm, so what the server sent as the dialog connected
// went by unused: confirming makes the link again, and the new link starts as a reconnection.
TEST_F(RemoteStart, OnTheFirstStartConfirmingMakesTheLinkAgain) {
    startAndConnect();
    settle();
    confirmFirstStart();
    EXPECT_EQ(server->acceptedCount(), 2);
    ASSERT_TRUE(waitFor([&] { return server->messages().size() >= 2; }));
    settle();
    EXPECT_EQ(server->messages(),
              (std::vector<Dictionary>{command("ClientID", 1), command("SoloOn", true)}));
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_TRUE(link().isConnected());
    serverSendsItsState();
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");

    // Only that first confirm does: the role is on from now on.
    server->stop();
    ASSERT_TRUE(disconnected());
    server->restart();
    loop_->advance(ViewController::kConnectionInterval);
    ASSERT_TRUE(server->acceptWithin(*loop_));
    settle();
    server->accept();
    EXPECT_EQ(server->acceptedCount(), 3);
    EXPECT_TRUE(link().isConnected());
}

// A found server's link makes the new connection by itself after the drop, once.
TEST_F(RemoteStart, InDiscoveryModeTheFirstConfirmMakesTheLinkAgainOnce) {
    defaults().setInteger(0, "useManualIP");
    start();
    browserLog->delegate->serviceFound("Desk");
    browserLog->delegate->serviceResolved(
        {"Desk", "stage.local", server->port(), {loopbackAddress(server->port())}});
    ASSERT_TRUE(server->acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return dialog()->statusText()->text() == "Connected to server"; }));

    // Long enough after the dialog's attempt that the link's own next attempt starts at once.
    loop_->advance(ServerManager::kMinAttemptInterval);
    dialog()->confirmClicked();
    ASSERT_TRUE(server->acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return server->messages().size() >= 2; }));
    loop_->advance(ViewController::kConnectionInterval);
    settle();
    server->accept();  // takes a new connection, if the link made one
    EXPECT_EQ(server->acceptedCount(), 2);
    EXPECT_TRUE(link().isConnected());
    EXPECT_EQ(server->messages(),
              (std::vector<Dictionary>{command("ClientID", 1), command("SoloOn", true)}));
}

TEST_F(RemoteStart, TheOpenDialogLeavesAFoundServersLinkAlone) {
    defaults().setInteger(0, "useManualIP");
    start();
    ASSERT_NE(dialog(), nullptr);
    ASSERT_NE(browserLog->delegate, nullptr);
    browserLog->delegate->serviceFound("Desk");
    browserLog->delegate->serviceResolved(
        {"Desk", "stage.local", server->port(), {loopbackAddress(server->port())}});
    ASSERT_TRUE(server->acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return link().isConnected(); }));

    loop_->advance(3 * PreferencesViewController::kRetryInterval);
    settle();
    server->accept();  // takes a new connection, if the link made one
    EXPECT_EQ(server->acceptedCount(), 1) << "the dialog's retries must not drop a live link";
    EXPECT_TRUE(link().isConnected());
    EXPECT_TRUE(dialog()->isRetrying());
}

TEST_F(RemoteStart, AfterTheServerRestartsTheReconnectionSendsClientIDAndSoloOn) {
    settings().setActAsClient(true);
    startAndConnect();
    confirm();
    buildStrips(3);
    stateOf(1).setChannelState(ChannelStripState::kSoloed);
    stateOf(3).setChannelState(ChannelStripState::kActive);

    // A drop turns every strip off, keeping their records, and says so.
    server->stop();
    ASSERT_TRUE(disconnected());
    EXPECT_TRUE(vc->statusRightIsRed());
    EXPECT_EQ(vc->rightLabel()->text(), "NOT CONNECTED TO SERVER");
    for (int64_t id : {1, 2, 3}) EXPECT_EQ(stateOf(id).channelState(), ChannelStripState::kOff);
    EXPECT_EQ(manager().controllers().size(), 3u);

    server->restart();
    server->clearMessages();
    loop_->advance(ViewController::kConnectionInterval);  // the main window's timer retries
    ASSERT_TRUE(server->acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return server->messages().size() >= 2; }));
    settle();
    EXPECT_EQ(server->messages(),
              (std::vector<Dictionary>{command("ClientID", 1), command("SoloOn", true)}));
    serverSendsItsState();
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");
}

TEST_F(RemoteStart, DecodedMessagesReachTheMainWindowAndOnTheFirstRunTheStreamFillsTheRing) {
    // No role is stored yet when the window loads and makes the engine.
    startAndConnect();
    ASSERT_FALSE(PELAudioEngine::sharedInstance().actAsClient());
    confirmFirstStart();
    serverSendsItsState();
    ASSERT_TRUE(settings().clientsEnabled());
    ASSERT_TRUE(server->sendMessage(command("ClientsEnabled", false)));
    EXPECT_TRUE(waitFor([&] { return !settings().clientsEnabled(); }));
    std::vector<float> samples(256, 0.25f);
    Bytes left(samples.size() * sizeof(float));
    std::memcpy(left.data(), samples.data(), left.size());
    ASSERT_TRUE(server->sendMessage(Dictionary{{"Command", "StreamData"}, {"LeftValue", left}}));
    EXPECT_TRUE(waitFor(
        [] { return PELAudioEngine::sharedInstance().clientRing().dataInBuffer() == 256; }));

    settings().setMicCheckMode(true);
    settings().setCurrentAct(2);
    vc->updateStatusMessage();
    EXPECT_EQ(vc->registerLabelText(), "MIC CHECK ACT 3");
    EXPECT_TRUE(vc->registerLabelIsRed());
}

// The same start against the stand-in, which sends its whole state once, as a remote connects.
class StandInStart : public LifeCycleTest {
  protected:
    /// The bound on each wait for the stand-in's answer.
    static constexpr double kAnswerWait = 2.0;

    void SetUp() override {
        LifeCycleTest::SetUp();
        ASSERT_NE(standIn.port(), 0) << standIn.log();
        link().setPort(standIn.port());
        defaults().setInteger(1, "useManualIP");
        defaults().setObject(Value("127.0.0.1"), "manualIP");
        settings().setChatUsername("alice");
        vc->setGroupButtonContainer(&groups);
    }

    /// Opens the window and waits until the dialog has connected and every message of the
    /// stand-in's initial state has been handed to the main window.
    void startAndTakeTheInitialState() {
        start();
        ASSERT_NE(dialog(), nullptr);
        ASSERT_TRUE(waitFor([&] {
            return dialog()->statusText()->text() == "Connected to server";
        })) << standIn.log();
        // "InitialDataReady" ends it.
        ASSERT_TRUE(waitFor([&] { return link().serverIsHere(); })) << standIn.log();
    }
    /// Whether the stand-in lists this remote among the chat users (it registered to the chat).
    static bool inTheChat() {
        for (const ChatClient& c : ChatManager::sharedInstance().chatClients()) {
            if (c.chatName == "alice") return true;
        }
        return false;
    }
    bool stripsShown() const { return !manager().controllers().empty(); }
    /// Runs this remote's loop while `other` reads, until `other` takes a message that `wanted`
    /// accepts; false when none comes within the bound (stretched, as runUntil does its own).
    bool seenBy(WireClient& other, const std::function<bool(const Dictionary&)>& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(kAnswerWait);
        while (std::chrono::steady_clock::now() < deadline) {
            loop_->runFor(0.02);
            while (auto m = other.next(0.01)) {
                if (wanted(*m)) return true;
            }
        }
        return false;
    }
    int32_t groupState(int32_t group) const {
        return groups.buttons.at(static_cast<size_t>(group - 1))->state();
    }

    SimServerProcess standIn;
};

TEST_F(StandInStart, OnTheFirstStartConfirmingShowsTheStripsAndJoinsTheChat) {
    startAndTakeTheInitialState();
    ASSERT_FALSE(settings().actAsClient()) << "no role is stored before the first confirm";
    EXPECT_FALSE(stripsShown()) << "the remote role's commands wait for the role";

    dialog()->confirmClicked();
    EXPECT_TRUE(waitFor([&] { return stripsShown(); }, kAnswerWait)) << standIn.log();
    EXPECT_TRUE(waitFor([&] { return inTheChat(); }, kAnswerWait)) << standIn.log();
    EXPECT_FALSE(vc->statusRightIsRed());
    EXPECT_NE(standIn.log().find("is client 0"), std::string::npos) << standIn.log();
}

// The chat's removals and the group buttons send through the link the application hands them:
// no test sender is set here.
TEST_F(StandInStart, AChatRemovalAndGroupClicksReachTheStandIn) {
    settings().setActAsClient(true);  // stored at an earlier run
    startAndTakeTheInitialState();
    dialog()->confirmClicked();
    ASSERT_TRUE(waitFor([&] { return inTheChat(); }, kAnswerWait)) << standIn.log();
    ASSERT_EQ(groups.buttons.size(), 8u);
    WireClient bob(standIn.port());
    ASSERT_TRUE(bob.waitFor("InitialDataReady"));

    ASSERT_TRUE(
        bob.send(LinkMessageBuilder::chatMessageFromClient(Dictionary{{"message", "hello alice"},
                                                                      {"sender", "bob"},
                                                                      {"messageId", "M-1"},
                                                                      {"uuid", "BOB-UUID"},
                                                                      {"type", 0},
                                                                      {"recipient", "All"}})));
    ASSERT_TRUE(waitFor([] {
        for (const auto& m : ChatManager::messages()) {
            if (m->messageId() == "M-1") return true;
        }
        return false;
    }));
    ChatManager::removeMessage("M-1", true);
    EXPECT_TRUE(seenBy(bob, [](const Dictionary& m) {
        return m == LinkMessageBuilder::message("ChatRemoveMessage", Value("M-1"));
    })) << standIn.log();

    ASSERT_EQ(groupState(3), 0);
    ASSERT_EQ(groupState(8), 0);
    NotificationCenter::defaultCenter().post("GroupClicked", Dictionary{{"index", 3}});
    EXPECT_TRUE(waitFor([&] { return groupState(3) == 1; }, kAnswerWait)) << standIn.log();
    NotificationCenter::defaultCenter().post("GroupLongClicked", Dictionary{{"index", 8}});
    EXPECT_TRUE(waitFor([&] { return groupState(8) == 2; }, kAnswerWait)) << standIn.log();
    EXPECT_EQ(groupState(3), 1);
}

}  // namespace
}  // namespace quenbril::test
