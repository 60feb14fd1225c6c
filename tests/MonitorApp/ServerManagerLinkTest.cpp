// The link's frames both ways against a loopback server.

#include <gtest/gtest.h>

#include "MonitorApp/LinkFrame.h"
#include "sockets/DispatchSocket.h"
#include "tests/MonitorApp/LinkTestSupport.h"

namespace quenbril::test {
namespace {

Bytes header(int32_t marker, int32_t length) {
    auto bytes = LinkFrameHeader{marker, length}.encode();
    return Bytes(bytes.begin(), bytes.end());
}

Dictionary command(const char* name, Value value = {}) {
    Dictionary message{{"Command", name}};
    if (!value.isNull()) message.set("Value", value);
    return message;
}

class ServerManagerLinkTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        browserLog_ = std::make_shared<FakeServiceBrowser::Log>();
        link_ = std::make_unique<ServerManager>();
        link_->setServiceBrowser(std::make_unique<FakeServiceBrowser>(browserLog_));
        link_->setDelegate(&recorder_);
    }
    void TearDown() override {
        link_.reset();
        LinkTest::TearDown();
    }
    /// Connects in discovery mode to `server`.
    void connect(FrameServer& server) {
        link_->tryToConnect();
        ASSERT_NE(browserLog_->delegate, nullptr);
        browserLog_->delegate->serviceFound("Desk");
        browserLog_->delegate->serviceResolved(
            {"Desk", "desk.local", server.port(), {server.address()}});
        ASSERT_TRUE(server.acceptWithin(*loop_));
        ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    }

    std::shared_ptr<FakeServiceBrowser::Log> browserLog_;
    LinkRecorder recorder_;
    std::unique_ptr<ServerManager> link_;
};

TEST_F(ServerManagerLinkTest, MessagesArriveInOrderAndTheRemoteFramesItsOwn) {
    FrameServer server;
    connect(server);
    ASSERT_TRUE(server.sendMessage(command("BatteryThreshold", 25)));
    ASSERT_TRUE(server.sendMessage(command("ClientsEnabled", true)));
    ASSERT_TRUE(waitFor([&] { return recorder_.messages.size() == 2; }));
    EXPECT_EQ(recorder_.messages[0]["Command"], Value("BatteryThreshold"));
    EXPECT_EQ(recorder_.messages[0]["Value"], Value(25));
    EXPECT_EQ(recorder_.messages[1]["Value"], Value(true));

    link_->sendDictionary(command("ClientID", 2));
    link_->sendDictionary(command("SoloOn", false));
    ASSERT_TRUE(waitFor([&] { return server.messages().size() == 2; }));
    EXPECT_EQ(server.messages()[0], command("ClientID", 2));
    EXPECT_EQ(server.messages()[1], command("SoloOn", false));
}

TEST_F(ServerManagerLinkTest, HeadersNotForTheRemoteAndBadBodiesAreSkipped) {
    FrameServer server;
    connect(server);
    Bytes stream;
    auto append = [&](const Bytes& b) { stream.insert(stream.end(), b.begin(), b.end()); };
    append(header(0, 20));    // a remote's marker: dropped, the next 8 bytes are a header
    append(header(123, 3));   // too short: dropped
    append(header(123, -5));  // negative: dropped
    append(header(123, 4));   // taken: a body of 4 bytes that is no archive
    append(Bytes{1, 2, 3, 4});
    append(*LinkCodec::encodeFrame(command("MarkerAdded", 1), LinkPeer::Server));
    ASSERT_TRUE(server.sendRaw(stream));
    ASSERT_TRUE(waitFor([&] { return !recorder_.messages.empty(); }));
    EXPECT_EQ(recorder_.messages[0]["Command"], Value("MarkerAdded"));
    loop_->runPending();
    EXPECT_EQ(recorder_.messages.size(), 1u);
    EXPECT_TRUE(link_->isConnected());
}

TEST_F(ServerManagerLinkTest, AnOversizedFrameClosesTheLinkWhichComesBack) {
    FrameServer server;
    connect(server);
    ASSERT_TRUE(server.sendRaw(header(123, LinkFrameHeader::kMaxLength + 1)));
    ASSERT_TRUE(waitFor([&] { return server.peerClosed(); }));
    ASSERT_TRUE(waitFor([&] { return !recorder_.disconnects.empty(); }));
    loop_->advance(ServerManager::kMinAttemptInterval);
    ASSERT_TRUE(server.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return recorder_.connects.size() == 2; }));

    // The new connection reads frames as before.
    ASSERT_TRUE(server.sendMessage(command("MarkerAdded", 1)));
    EXPECT_TRUE(waitFor([&] { return recorder_.messages.size() == 1; }));
}

TEST_F(ServerManagerLinkTest, ASilentServerIsDropped) {
    link_->setReadTimeout(0.3);
    FrameServer server;
    connect(server);
    ASSERT_TRUE(server.sendMessage(command("MarkerAdded", 1)));
    ASSERT_TRUE(waitFor([&] { return recorder_.messages.size() == 1; }));
    ASSERT_TRUE(waitFor([&] { return !recorder_.disconnects.empty(); }));
    ASSERT_TRUE(recorder_.disconnects[0].has_value());
    EXPECT_EQ(recorder_.disconnects[0]->domain, DispatchSocket::kErrorDomain);
    EXPECT_EQ(recorder_.disconnects[0]->code, DispatchSocket::ReadTimeoutError);
    EXPECT_FALSE(link_->connected());
}

TEST_F(ServerManagerLinkTest, ABodyThatStopsHalfwayIsDropped) {
    link_->setReadTimeout(0.3);
    FrameServer server;
    connect(server);
    auto frame = *LinkCodec::encodeFrame(command("MarkerAdded", 1), LinkPeer::Server);
    frame.resize(frame.size() - 1);
    ASSERT_TRUE(server.sendRaw(frame));
    ASSERT_TRUE(waitFor([&] { return !recorder_.disconnects.empty(); }));
    EXPECT_EQ(recorder_.disconnects[0]->code, DispatchSocket::ReadTimeoutError);
    EXPECT_TRUE(recorder_.messages.empty());
}

}  // namespace
}  // namespace quenbril::test
