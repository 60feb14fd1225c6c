#include <atomic>
#include <cstdio>
#include <thread>

#include "sockets/RunLoopModes.h"
#include "sockets/RunLoopSocketException.h"
#include "tests/sockets/RunLoopSocketTestSupport.h"

namespace quenbril::test {
namespace {

class RunLoopSocketTest : public RunLoopSocketTestBase {};

TEST_F(RunLoopSocketTest, ListensOnOneSystemChosenPortForBothFamilies) {
    RunLoopRecorder recorder;
    auto listener = RunLoopSocket::make(&recorder);
    Error error;
    ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error.toString();
    EXPECT_NE(listener->localPort4(), 0);
    EXPECT_EQ(listener->localPort4(), listener->localPort6());
    EXPECT_TRUE(listener->isIPv4());
    EXPECT_TRUE(listener->isIPv6());

    RunLoopRecorder clientRecorder;
    auto client4 = RunLoopSocket::make(&clientRecorder);
    auto client6 = RunLoopSocket::make(&clientRecorder);
    ASSERT_TRUE(client4->connectToHost("127.0.0.1", listener->localPort4(), &error));
    ASSERT_TRUE(client6->connectToHost("::1", listener->localPort4(), &error));
    ASSERT_TRUE(waitFor([&] { return clientRecorder.connects == 2 && recorder.connects == 2; }));
    ASSERT_EQ(recorder.accepted.size(), 2u);
    EXPECT_EQ(client4->connectedHost(), "127.0.0.1");
    EXPECT_EQ(client6->connectedHost(), "::1");
    EXPECT_TRUE(client6->isIPv6());
    EXPECT_FALSE(client6->isIPv4());
    int ipv6Accepted = 0;
    for (auto& s : recorder.accepted) ipv6Accepted += s->isIPv6() ? 1 : 0;
    EXPECT_EQ(ipv6Accepted, 1);
}

TEST_F(RunLoopSocketTest, ConnectionAcceptedOnDescriptorZeroIsAConnection) {
    // A program started without standard input gets descriptor 0 for its next socket.
    RunLoopRecorder recorder;
    auto listener = RunLoopSocket::make(&recorder);
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    int peer = ::socket(AF_INET, SOCK_STREAM, 0);
    struct InputBack {
        int saved = ::dup(0);
        ~InputBack() {
            ::dup2(saved, 0);
            ::close(saved);
        }
    } inputBack;
    ::close(0);
    Bytes a = loopbackAddress4(listener->localPort());
    ASSERT_EQ(::connect(peer, reinterpret_cast<const sockaddr*>(a.data()), a.size()), 0);
    ASSERT_TRUE(waitFor([&] { return recorder.connects == 1; }));
    auto accepted = recorder.accepted.at(0);
    EXPECT_EQ(accepted->getStreamPair()->nativeHandle(), 0);
    EXPECT_FALSE(accepted->isDisconnected());
    EXPECT_TRUE(accepted->isIPv4());
    accepted->readDataToLength(2, -1, 1);
    ::send(peer, "ok", 2, MSG_NOSIGNAL);
    ASSERT_TRUE(waitFor([&] { return recorder.reads.size() == 1; }));
    EXPECT_EQ(recorder.reads[0].data, "ok");
    accepted.reset();
    recorder.accepted.clear();
    ::close(peer);
}

TEST_F(RunLoopSocketTest, ConnectsByHostNameAndByAddressAndCarriesBytesBothWays) {
    RunLoopRecorder serverRecorder, clientRecorder;
    auto listener = RunLoopSocket::make(&serverRecorder);
    ASSERT_TRUE(listener->acceptOnInterface("localhost", 0));
    auto byHost = RunLoopSocket::make(&clientRecorder);
    auto byAddress = RunLoopSocket::make(&clientRecorder);
    ASSERT_TRUE(byHost->connectToHost("localhost", listener->localPort()));
    ASSERT_TRUE(byAddress->connectToAddress(loopbackAddress4(listener->localPort())));
    ASSERT_TRUE(waitFor([&] { return clientRecorder.connects == 2; }));
    EXPECT_EQ(clientRecorder.connectedPort, listener->localPort());
    EXPECT_TRUE(byHost->isConnected());
    ASSERT_TRUE(waitFor([&] { return serverRecorder.accepted.size() == 2; }));

    byHost->writeData(bytesOf("ping\n"), -1, 1);
    serverRecorder.onRead = [](RunLoopSocket* s, const RunLoopRecorder::Read& r) {
        s->writeData(bytesOf("re:" + r.data), -1, 2);
    };
    for (auto& s : serverRecorder.accepted) s->readDataToData(RunLoopSocket::LFData(), -1, 10);
    byHost->readDataToLength(8, -1, 3);
    ASSERT_TRUE(waitFor([&] { return !clientRecorder.reads.empty(); }));
    EXPECT_EQ(clientRecorder.reads[0].data, "re:ping\n");
    EXPECT_EQ(clientRecorder.writes, std::vector<long>{1});
}

TEST_F(RunLoopSocketTest, ConnectToHostWithoutAddressesFailsWithAnAddressLookupError) {
    RunLoopRecorder recorder;
    auto client = RunLoopSocket::make(&recorder);
    ASSERT_TRUE(client->connectToHost("no-such-host.invalid", 80));
    ASSERT_TRUE(waitFor([&] { return recorder.disconnects == 1; }));
    ASSERT_EQ(recorder.willDisconnectErrors.size(), 1u);
    ASSERT_TRUE(recorder.willDisconnectErrors[0]);
    EXPECT_EQ(recorder.willDisconnectErrors[0]->domain, "kCFStreamErrorDomainNetDB");
    EXPECT_FALSE(recorder.willDisconnectErrors[0]->description.empty());
    EXPECT_TRUE(client->isDisconnected());
}

TEST_F(RunLoopSocketTest, DelegateRefusingTheConnectCancelsItWithoutDisconnectCalls) {
    PlainListener listener;
    RunLoopRecorder recorder;
    recorder.willConnectAnswer = false;
    auto client = RunLoopSocket::make(&recorder);
    Error error;
    EXPECT_FALSE(client->connectToAddress(loopbackAddress4(listener.port), &error));
    EXPECT_EQ(error.domain, "RunLoopSocketErrorDomain");
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Connection canceled");
    EXPECT_FALSE(client->connectToHost("127.0.0.1", listener.port, &error));
    EXPECT_EQ(error.code, 1);
    loop_.runFor(0.05);
    EXPECT_EQ(recorder.disconnects, 0);
    EXPECT_TRUE(recorder.willDisconnectErrors.empty());
    EXPECT_TRUE(client->isDisconnected());
}

TEST_F(RunLoopSocketTest, ConnectTimesOutAgainstAListenerWhoseQueueIsFull) {
    PlainListener listener(0);
    // A backlog of 0 holds one connection; while it waits unaccepted, further ones hang.
    int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    Bytes a = loopbackAddress4(listener.port);
    ASSERT_EQ(::connect(filler, reinterpret_cast<const sockaddr*>(a.data()), a.size()), 0);
    int filler2 = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(filler2, reinterpret_cast<const sockaddr*>(a.data()), a.size());

    RunLoopRecorder recorder;
    auto client = RunLoopSocket::make(&recorder);
    ASSERT_TRUE(client->connectToAddress(a, 3.0));
    loop_.runFor(0.05);
    EXPECT_EQ(recorder.connects, 0);
    loop_.advance(3.0);
    ASSERT_EQ(recorder.willDisconnectErrors.size(), 1u);
    EXPECT_EQ(recorder.willDisconnectErrors[0]->code, 2);
    EXPECT_EQ(recorder.willDisconnectErrors[0]->description,
              "Attempt to connect to host timed out");
    EXPECT_EQ(recorder.disconnects, 1);
    ::close(filler);
    ::close(filler2);
}

TEST_F(RunLoopSocketTest, MisuseThrowsWithTheSocketsExceptionName) {
    auto orphan = RunLoopSocket::make();
    try {
        orphan->acceptOnPort(0);
        FAIL() << "accepting without a delegate must throw";
    } catch (const RunLoopSocketException& e) {
        EXPECT_EQ(e.name(), "RunLoopSocketException");
        EXPECT_EQ(e.reason(), "Attempting to accept without a delegate. Set a delegate first.");
    }
    RunLoopRecorder recorder;
    PlainListener listener;
    auto client = connectedClient(listener, recorder);
    try {
        client->connectToHost("localhost", listener.port);
        FAIL() << "connecting twice must throw";
    } catch (const RunLoopSocketException& e) {
        EXPECT_EQ(e.reason(),
                  "Attempting to connect while connected or accepting connections. Disconnect "
                  "first.");
    }
    EXPECT_NO_THROW(client->checkForThreadSafety());
    std::thread([&] {
        EXPECT_THROW(client->checkForThreadSafety(), RunLoopSocketException);
    }).join();
}

TEST_F(RunLoopSocketTest, DescriptionNamesAddressesQueuesAndStreamStates) {
    RunLoopRecorder recorder;
    PlainListener listener;
    auto client = connectedClient(listener, recorder);
    client->readDataToLength(10, -1, 1);
    client->readDataToLength(4, -1, 2);
    loop_.runPending();
    listener.send("abc");
    ASSERT_TRUE(waitFor([&] { return !recorder.partialReads.empty(); }));
    client->disconnectAfterReadingAndWriting();
    char pointer[32], streams[32];
    std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(client.get()));
    std::snprintf(streams, sizeof streams, "%p", static_cast<void*>(client->getStreamPair()));
    std::string expected =
        std::string("<RunLoopSocket ") + pointer + " local 127.0.0.1 " +
        std::to_string(client->localPort()) + " remote 127.0.0.1 " + std::to_string(listener.port) +
        " has queued 1 reads 0 writes, currently read 10 bytes (30% done), "
        "no current write, read stream " +
        streams + " open, write stream " + streams + " open, will disconnect after reads & writes>";
    EXPECT_EQ(client->description(), expected);

    auto idle = RunLoopSocket::make(&recorder);
    std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(idle.get()));
    EXPECT_EQ(idle->description(),
              std::string("<RunLoopSocket ") + pointer +
                  " local nowhere remote nowhere has queued 0 reads 0 writes, no current read, "
                  "no current write, read stream 0x0 not open, write stream 0x0 not open, not "
                  "connected>");
}

TEST_F(RunLoopSocketTest, ModeChangesAttachAndDetachTheSocket) {
    RunLoopRecorder recorder;
    PlainListener listener;
    auto client = connectedClient(listener, recorder);
    EXPECT_FALSE(client->removeRunLoopMode(RunLoopModes::kDefault));
    EXPECT_EQ(client->runLoopModes(), std::vector<std::string>{RunLoopModes::kDefault});
    EXPECT_TRUE(client->removeRunLoopMode("NotListed"));
    EXPECT_FALSE(client->setRunLoopModes({}));

    // In a mode our loops never run, the socket waits; adding the common modes brings it back.
    ASSERT_TRUE(client->setRunLoopModes({"Private"}));
    client->readDataToLength(5, 1.0, 7);
    listener.send("hello");
    loop_.runFor(0.05);
    loop_.advance(2.0);
    EXPECT_TRUE(recorder.reads.empty());
    EXPECT_EQ(recorder.disconnects, 0);
    ASSERT_TRUE(client->addRunLoopMode(RunLoopModes::kCommon));
    ASSERT_TRUE(waitFor([&] { return recorder.reads.size() == 1; }));
    EXPECT_EQ(recorder.reads[0].data, "hello");
    ASSERT_TRUE(client->removeRunLoopMode(RunLoopModes::kCommon));
    EXPECT_EQ(client->runLoopModes(), std::vector<std::string>{"Private"});
}

TEST_F(RunLoopSocketTest, MovesToALoopOnAnotherThreadAndWorksThere) {
    RunLoopRecorder recorder;
    PlainListener listener;
    auto client = connectedClient(listener, recorder);

    std::atomic<bool> stop{false}, moved{false};
    std::atomic<int> readsOnWorker{0};
    std::string received;
    std::thread worker([&] {
        ManualRunLoop workerLoop;
        recorder.onRead = [&](RunLoopSocket* s, const RunLoopRecorder::Read& r) {
            if (workerLoop.isCurrentThread()) ++readsOnWorker;
            received = r.data;
            s->writeData(bytesOf("ack"), -1, 9);
        };
        client->moveToRunLoop(&workerLoop);
        client->readDataToLength(4, -1, 1);
        moved = true;
        workerLoop.runUntil([&] { return stop.load(); }, 10.0);
        client.reset();
        workerLoop.runPending();
    });
    while (!moved) std::this_thread::yield();
    listener.send("move");
    EXPECT_EQ(listener.receive(3), "ack");
    stop = true;
    worker.join();
    EXPECT_EQ(readsOnWorker.load(), 1);
    EXPECT_EQ(received, "move");
}

TEST_F(RunLoopSocketTest, AcceptedSocketRunsOnTheLoopTheDelegateNames) {
    RunLoopRecorder recorder;
    auto listener = RunLoopSocket::make(&recorder);
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    std::atomic<bool> stop{false};
    std::atomic<RunLoop*> workerLoopPointer{nullptr};
    std::atomic<int> readOnWorker{0};
    std::thread worker([&] {
        ManualRunLoop workerLoop;
        workerLoopPointer = &workerLoop;
        workerLoop.runUntil([&] { return stop.load(); }, 10.0);
        recorder.accepted.clear();
        workerLoop.runPending();
    });
    while (!workerLoopPointer) std::this_thread::yield();
    recorder.loopForNewSockets = workerLoopPointer;
    recorder.onRead = [&](RunLoopSocket*, const RunLoopRecorder::Read&) {
        if (workerLoopPointer.load()->isCurrentThread()) ++readOnWorker;
    };
    int peer = ::socket(AF_INET, SOCK_STREAM, 0);
    Bytes a = loopbackAddress4(listener->localPort());
    ASSERT_EQ(::connect(peer, reinterpret_cast<const sockaddr*>(a.data()), a.size()), 0);
    ASSERT_TRUE(waitFor([&] { return recorder.accepted.size() == 1; }));
    auto accepted = recorder.accepted[0];
    workerLoopPointer.load()->post([accepted] { accepted->readDataToLength(2, -1, 1); });
    ::send(peer, "hi", 2, MSG_NOSIGNAL);
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(5.0);
    while (readOnWorker == 0 && std::chrono::steady_clock::now() < deadline) usleep(10000);
    EXPECT_EQ(readOnWorker.load(), 1);
    accepted.reset();
    stop = true;
    worker.join();
    ::close(peer);
}

}  // namespace
}  // namespace quenbril::test
