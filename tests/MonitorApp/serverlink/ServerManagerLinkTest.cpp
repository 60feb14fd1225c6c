// The link's frames both ways against a loopback server.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "sockets/DispatchSocket.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

class ServerManagerLinkTest : public ServerManagerTestBase {
  protected:
    /// Connects in discovery mode to `server`.
    void connect(FrameServer& server) {
        link_->tryToConnect();
        resolveTo("Desk", {server.address()});
        ASSERT_TRUE(server.acceptWithin(*loop_));
        ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    }
};

TEST_F(ServerManagerLinkTest, MessagesArriveInOrderAndTheRemoteFramesItsOwn) {
    FrameServer server;
    connect(server);
    const std::vector<Dictionary> in{command("BatteryThreshold", 25),
                                     command("ClientsEnabled", true)};
    for (const Dictionary& m : in) ASSERT_TRUE(server.sendMessage(m));
    ASSERT_TRUE(waitFor([&] { return recorder_.messages.size() == 2; }));
    EXPECT_EQ(recorder_.messages, (std::vector<Value>{Value(in[0]), Value(in[1])}));

    const std::vector<Dictionary> out{command("ClientID", 2), command("SoloOn", false)};
    for (const Dictionary& m : out) link_->sendOnConnection(m);
    ASSERT_TRUE(waitFor([&] { return server.messages().size() == 2; }));
    EXPECT_EQ(server.messages(), out);
}

// A server that takes the connection and sends nothing (hung, or still sending its state) is not
// here: a user's command is neither sent nor kept, only the connection's own messages go. Its
// "InitialDataReady" makes it here until the next drop.
TEST_F(ServerManagerLinkTest, UserCommandsGoOnlyOnceTheServersStateIsIn) {
    FrameServer server;
    connect(server);
    EXPECT_FALSE(link_->serverIsHere());
    EXPECT_FALSE(link_->maySend());
    link_->sendDictionary(command("ChannelClicked", 7));
    link_->sendOnConnection(command("ClientID", 2));
    ASSERT_TRUE(server.sendMessage(command("InitialDataReady", false)));
    ASSERT_TRUE(waitFor([&] { return recorder_.messages.size() == 1; }));
    EXPECT_FALSE(link_->serverIsHere()) << "a false value says the state is not ready";

    ASSERT_TRUE(server.sendMessage(command("InitialDataReady", true)));
    ASSERT_TRUE(waitFor([&] { return recorder_.messages.size() == 2; }));
    EXPECT_TRUE(link_->serverIsHere());
    EXPECT_TRUE(link_->maySend());
    link_->sendDictionary(command("MarkerAdded", "alice"));
    ASSERT_TRUE(waitFor([&] { return server.messages().size() == 2; }));
    EXPECT_EQ(server.commands(), (std::vector<std::string>{"ClientID", "MarkerAdded"}));

    server.closeClient();
    ASSERT_TRUE(waitForDisconnects(1));
    EXPECT_FALSE(link_->serverIsHere());
    loop_->advance(ServerManager::kMinAttemptInterval);
    ASSERT_TRUE(server.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return recorder_.connects.size() == 2; }));
    EXPECT_FALSE(link_->serverIsHere()) << "a new connection waits for the state again";
    link_->sendDictionary(command("ChannelClicked", 8));
    loop_->runFor(0.2);
    EXPECT_EQ(server.commands(), (std::vector<std::string>{"ClientID", "MarkerAdded"}));
}

TEST_F(ServerManagerLinkTest, HeadersNotForTheRemoteAndBadBodiesAreSkipped) {
    FrameServer server;
    connect(server);
    Bytes stream;
    auto append = [&](const Bytes& b) { stream.insert(stream.end(), b.begin(), b.end()); };
    append(frameHeader(0, 20));    // a remote's marker: dropped, the next 8 bytes are a header
    append(frameHeader(123, 3));   // too short: dropped
    append(frameHeader(123, -5));  // negative: dropped
    append(frameHeader(123, 4));   // taken: a body of 4 bytes that is no archive
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
    ASSERT_TRUE(server.sendRaw(frameHeader(123, LinkFrameHeader::kMaxLength + 1)));
    ASSERT_TRUE(waitFor([&] { return server.peerClosed(); }));
    ASSERT_TRUE(waitForDisconnects(1));
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
    ASSERT_TRUE(waitForDisconnects(1));
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
    ASSERT_TRUE(server.sendRaw(Bytes(frame.begin(), frame.end() - 1)));
    ASSERT_TRUE(waitForDisconnects(1));
    EXPECT_EQ(recorder_.disconnects[0]->code, DispatchSocket::ReadTimeoutError);
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(ServerManagerLinkTest, AFrameThatKeepsArrivingIsReadHoweverLongItTakes) {
    // Stretched as the pauses between the pieces are: the whole takes four times the time-out
    // in every build.
    link_->setReadTimeout(scaledSeconds(0.5));
    FrameServer server;
    connect(server);
    auto frame = *LinkCodec::encodeFrame(command("NotebookEntries", Value(Bytes(4000, 7))),
                                         LinkPeer::Server);
    // About 2 s in all, four times the time-out, and a piece every 0.05 s (plain build).
    constexpr size_t kPieces = 40;
    const size_t step = frame.size() / kPieces + 1;
    for (size_t at = 0; at < frame.size(); at += step) {
        auto end = frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), at + step));
        ASSERT_TRUE(server.sendRaw(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(at), end)));
        loop_->runFor(scaledSeconds(0.05));
    }
    ASSERT_TRUE(waitFor([&] { return recorder_.messages.size() == 1; }));
    EXPECT_EQ(recorder_.messages[0]["Command"], Value("NotebookEntries"));
    EXPECT_TRUE(recorder_.disconnects.empty());
    EXPECT_TRUE(link_->connected());
}

// A server behind a slow link takes a long frame of the remote's piece by piece: the write goes
// on while the bytes move, however long the whole takes, and the frame arrives whole. The server
// reads on a thread of its own, so the remote's loop being kept from the CPU stops no reading. It
// reads slowly enough that the kernel's send buffer (megabytes, and the writer is woken only
// once a third of it is free) holds more than a time-out's worth of its reading.
TEST_F(ServerManagerLinkTest, AFrameTheServerKeepsTakingIsWrittenHoweverLongItTakes) {
    // Stretched as the reads' pauses are; the server says nothing meanwhile, and its silence, as
    // long as the whole write, is not what is tested here.
    constexpr double kPatience = 60.0;
    link_->setWriteTimeout(scaledSeconds(0.5));
    link_->setReadTimeout(scaledSeconds(kPatience));
    FrameServer server;
    server.limitReceiveBuffer(64 << 10);
    connect(server);
    // Past what the sockets' buffers hold: the server's reads pace the write.
    const std::string note(5 << 20, 'n');
    link_->sendOnConnection(command("NoteAdded", note));
    // 64 KiB every 0.05 s: about 4 s in all, eight times the time-out.
    std::atomic<bool> readAll{false};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop && server.messagesRead() == 0) {
            server.readSome(64 << 10);
            std::this_thread::sleep_for(std::chrono::duration<double>(scaledSeconds(0.05)));
        }
        readAll = server.messagesRead() > 0;
    });
    waitFor([&] { return readAll.load() || !recorder_.disconnects.empty(); }, kPatience);
    stop = true;
    reader.join();
    ASSERT_TRUE(recorder_.disconnects.empty())
        << (recorder_.disconnects[0] ? recorder_.disconnects[0]->toString() : "closed");
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(server.messages()[0]["Value"], Value(note));
    EXPECT_TRUE(link_->connected());
}

}  // namespace
}  // namespace quenbril::test
