// The remote's start and reconnection against a loopback server that speaks the link's frames:
// a headless main window, its connection dialog and the shared server link, by manual address.

#include <cstring>

#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"

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
    /// Gives stray messages a moment to arrive.
    void settle() {
        loop_->runUntil([] { return false; }, 0.2);
    }
    bool disconnected() {
        return waitFor([&] { return vc->statusRightText() == "NOT CONNECTED TO SERVER"; });
    }

    std::unique_ptr<FrameServer> server;
};

TEST_F(RemoteStart, TheDialogConnectsFirstAndConfirmingSendsOnlyTheClientID) {
    startAndConnect();
    settle();
    EXPECT_TRUE(server->messages().empty()) << "a connection with the dialog open sends nothing";
    EXPECT_FALSE(vc->isInitialized());

    confirm();
    settle();
    EXPECT_EQ(server->messages(), (std::vector<Dictionary>{command("ClientID", 1)}));
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");
    EXPECT_FALSE(vc->statusRightIsRed());
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
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");
}

TEST_F(RemoteStart, DecodedMessagesReachTheMainWindowAndOnTheFirstRunTheStreamFillsTheRing) {
    // No role is stored yet when the window loads and makes the engine.
    startAndConnect();
    ASSERT_FALSE(PELAudioEngine::sharedInstance().actAsClient());
    confirm();
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

}  // namespace
}  // namespace quenbril::test
