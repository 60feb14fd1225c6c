// The remote's start and reconnection against a loopback server that speaks the link's frames:
// a headless main window, its connection dialog and the shared server link, by manual address.

#include <cstring>

#include "MonitorApp/LinkFrame.h"
#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"

namespace quenbril::test {
namespace {

Bytes header(int32_t marker, int32_t length) {
    auto bytes = LinkFrameHeader{marker, length}.encode();
    return Bytes(bytes.begin(), bytes.end());
}

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
    EXPECT_EQ(server->messages(),
              (std::vector<Dictionary>{{{"Command", "ClientID"}, {"Value", 1}}}));
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");
    EXPECT_FALSE(vc->statusRightIsRed());
}

TEST_F(RemoteStart, AfterTheServerRestartsTheReconnectionSendsClientIDAndSoloOn) {
    startAndConnect();
    confirm();
    buildStrips(3);
    stateOf(2).setChannelState(ChannelStripState::kSoloed);

    server->stop();
    ASSERT_TRUE(disconnected());
    EXPECT_TRUE(vc->statusRightIsRed());
    EXPECT_EQ(stateOf(2).channelState(), ChannelStripState::kOff);

    server->restart();
    server->clearMessages();
    loop_->advance(ViewController::kConnectionInterval);  // the main window's timer retries
    ASSERT_TRUE(server->acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return server->messages().size() >= 2; }));
    settle();
    EXPECT_EQ(server->messages(),
              (std::vector<Dictionary>{{{"Command", "ClientID"}, {"Value", 1}},
                                       {{"Command", "SoloOn"}, {"Value", true}}}));
    EXPECT_EQ(vc->statusRightText(), "Connected to server as Client 2");
}

TEST_F(RemoteStart, DecodedMessagesReachTheMainWindow) {
    startAndConnect();
    confirm();
    ASSERT_TRUE(settings().clientsEnabled());
    ASSERT_TRUE(server->sendMessage(Dictionary{{"Command", "ClientsEnabled"}, {"Value", false}}));
    EXPECT_TRUE(waitFor([&] { return !settings().clientsEnabled(); }));

    settings().setMicCheckMode(true);
    settings().setCurrentAct(2);
    vc->updateStatusMessage();
    EXPECT_EQ(vc->registerLabelText(), "MIC CHECK ACT 3");
    EXPECT_TRUE(vc->registerLabelIsRed());
}

TEST_F(RemoteStart, OnTheFirstRunTheStreamFillsTheEnginesRing) {
    // No role is stored yet when the window loads and makes the engine.
    startAndConnect();
    ASSERT_FALSE(PELAudioEngine::sharedInstance().actAsClient());
    confirm();
    std::vector<float> samples(256, 0.25f);
    Bytes left(samples.size() * sizeof(float));
    std::memcpy(left.data(), samples.data(), left.size());
    ASSERT_TRUE(server->sendMessage(Dictionary{{"Command", "StreamData"}, {"LeftValue", left}}));
    EXPECT_TRUE(waitFor(
        [] { return PELAudioEngine::sharedInstance().clientRing().dataInBuffer() == 256; }));
}

TEST_F(RemoteStart, ASilentServerIsDropped) {
    link().setReadTimeout(0.4);
    startAndConnect();
    confirm();
    EXPECT_TRUE(disconnected());
    EXPECT_TRUE(waitFor([&] { return server->peerClosed(); }));
}

TEST_F(RemoteStart, AnOversizedFrameClosesTheLinkAndTheRemoteReconnects) {
    startAndConnect();
    confirm();
    server->clearMessages();
    ASSERT_TRUE(server->sendRaw(header(123, LinkFrameHeader::kMaxLength + 1)));
    ASSERT_TRUE(waitFor([&] { return server->peerClosed(); }));
    ASSERT_TRUE(disconnected());

    loop_->advance(ViewController::kConnectionInterval);
    ASSERT_TRUE(server->acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return server->messages().size() >= 2; }));
    EXPECT_EQ(server->commands(), (std::vector<std::string>{"ClientID", "SoloOn"}));
    EXPECT_EQ(server->acceptedCount(), 2);
}

}  // namespace
}  // namespace quenbril::test
