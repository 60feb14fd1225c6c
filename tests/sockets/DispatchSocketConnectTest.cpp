#include <sys/resource.h>
#include <sys/un.h>

#include <algorithm>
#include <filesystem>

#include "SocketTestSupport.h"

namespace quenbril::test {
namespace {

using ConnectTest = SocketTest;

std::shared_ptr<DispatchSocket> listenLocal(Recorder& r,
                                            const std::string& interface = "localhost") {
    auto listener = DispatchSocket::make(&r, dispatch::Queue::main());
    Error error;
    EXPECT_TRUE(listener->acceptOnInterface(interface, 0, &error)) << error.toString();
    return listener;
}

TEST_F(ConnectTest, ConnectsByHostOverEitherFamilyAndListensOnOnePortForBoth) {
    Recorder server;
    auto listener = listenLocal(server);
    uint16_t port4 = 0, port6 = 0;
    listener->performBlock([&] {
        port4 = listener->localPort4();
        port6 = listener->localPort6();
    });
    ASSERT_NE(port4, 0);
    EXPECT_EQ(port4, port6);
    EXPECT_TRUE(listener->isIPv4());
    EXPECT_TRUE(listener->isIPv6());
    EXPECT_FALSE(listener->connectedHost());  // a listener has no peer

    struct Case {
        std::string host;  // empty: connect to the address of `expected`
        bool preferIPv6;
        std::string expected;
    };
    for (const Case& c : {Case{"127.0.0.1", false, "127.0.0.1"}, Case{"::1", false, "::1"},
                          Case{"localhost", false, "127.0.0.1"}, Case{"localhost", true, "::1"},
                          Case{"", false, "127.0.0.1"}, Case{"", false, "::1"}}) {
        SCOPED_TRACE(c.host + " " + c.expected);
        Recorder client;
        auto sock = makeSocket(client);
        sock->setIPv4PreferredOverIPv6(!c.preferIPv6);
        size_t acceptedBefore = server.accepted.size();
        Error error;
        Bytes address = c.expected == "::1" ? address6("::1", port4) : address4("127.0.0.1", port4);
        ASSERT_TRUE(c.host.empty() ? sock->connectToAddress(address, 1.0, &error)
                                   : sock->connectToHost(c.host, port4, &error))
            << error.toString();
        EXPECT_TRUE(error.domain.empty());
        EXPECT_FALSE(sock->isDisconnected());
        ASSERT_TRUE(wait(
            [&] { return client.connects == 1 && server.accepted.size() == acceptedBefore + 1; }));
        EXPECT_EQ(client.connectedHost, c.expected);
        EXPECT_EQ(client.connectedPort, port4);
        EXPECT_TRUE(sock->isConnected());
        EXPECT_EQ(sock->connectedHost(), c.expected);
        EXPECT_EQ(sock->connectedPort(), port4);
        EXPECT_EQ(sock->connectedAddress(), address);
        EXPECT_EQ(sock->isIPv6(), c.expected == "::1");
        auto child = server.accepted.back();
        EXPECT_EQ(child->connectedPort(), sock->localPort());
        EXPECT_EQ(child->localHost(), c.expected);
        EXPECT_TRUE(child->isConnected());
        EXPECT_FALSE(client.offMainThread);
    }
    EXPECT_FALSE(server.offMainThread);
}

TEST_F(ConnectTest, ClosedPortGivesOneDisconnectWithTheConnectError) {
    uint16_t port;
    {
        RawListener gone;
        port = gone.port;
    }
    for (bool byHost : {true, false}) {
        Recorder client;
        auto sock = makeSocket(client);
        bool started = byHost ? sock->connectToHost("127.0.0.1", port)
                              : sock->connectToAddress(address4("127.0.0.1", port));
        ASSERT_TRUE(started);
        ASSERT_TRUE(wait([&] { return client.disconnects == 1; }));
        ASSERT_TRUE(client.disconnectError);
        EXPECT_EQ(client.disconnectError->domain, Error::kPosixDomain);
        EXPECT_EQ(client.disconnectError->code, ECONNREFUSED);
        EXPECT_EQ(client.disconnectError->failureReason(), "Error in connect() function");
        EXPECT_EQ(client.connects, 0);
        EXPECT_TRUE(sock->isDisconnected());
        ASSERT_TRUE(drain(*sock));
        EXPECT_EQ(client.disconnects, 1);
    }
}

TEST_F(ConnectTest, ConnectTimesOutAgainstAListenerThatNeverAccepts) {
    // A backlog-0 listener that never accepts: once its queue is full, further connects hang.
    RawListener full(0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        Bytes a = address4("127.0.0.1", full.port);
        ::connect(fd, reinterpret_cast<const sockaddr*>(a.data()), sizeof(sockaddr_in));
        fillers.push_back(fd);
    }
    Recorder client;
    auto sock = makeSocket(client);
    ASSERT_TRUE(sock->connectToHost("127.0.0.1", full.port, 0.3));
    EXPECT_FALSE(sock->isDisconnected());
    EXPECT_FALSE(sock->isConnected());
    EXPECT_FALSE(sock->connectedHost());  // none while connecting
    ASSERT_TRUE(wait([&] { return client.disconnects == 1; }));
    ASSERT_TRUE(client.disconnectError);
    EXPECT_EQ(client.disconnectError->domain, DispatchSocket::kErrorDomain);
    EXPECT_EQ(client.disconnectError->code, DispatchSocket::ConnectTimeoutError);
    EXPECT_EQ(client.disconnectError->description, "Attempt to connect to host timed out");
    EXPECT_EQ(client.connects, 0);
    for (int fd : fillers) ::close(fd);
}

TEST_F(ConnectTest, AcceptedSocketsShareDelegateAndQueueOrTakeTheQueueAskedFor) {
    Recorder server;
    auto ownQueue = dispatch::Queue::makeSerial("accepted");
    server.queueForNewSockets = ownQueue;
    auto listener = listenLocal(server, "127.0.0.1");
    EXPECT_TRUE(listener->isIPv4());
    EXPECT_FALSE(listener->isIPv6());

    int raw = rawConnect(listener->localPort());
    ASSERT_GE(raw, 0);
    ASSERT_TRUE(wait([&] { return server.accepted.size() == 1; }));
    auto child = server.accepted[0];
    EXPECT_EQ(child->delegate(), &server);
    EXPECT_EQ(child->delegateQueue(), mainQueue());
    bool onOwnQueue = false;
    child->performBlock([&] { onOwnQueue = ownQueue->isCurrent(); });
    EXPECT_TRUE(onOwnQueue);
    ASSERT_EQ(server.acceptedFrom.size(), 1u);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(raw, reinterpret_cast<sockaddr*>(&local), &length);
    EXPECT_EQ(DispatchSocket::portFromAddress(server.acceptedFrom[0]), ntohs(local.sin_port));

    // The accepted socket works both ways.
    child->writeData(bytesOf("hello"), -1, 1);
    EXPECT_EQ(textOf(recvExactly(raw, 5)), "hello");
    sendText(raw, "back");
    child->readDataToLength(4, 2.0, 2);
    ASSERT_TRUE(wait([&] { return server.reads.size() == 1; }));
    EXPECT_EQ(textOf(server.reads[0].data), "back");
    ::close(raw);
}

TEST_F(ConnectTest, ListenerTakesEveryWaitingConnectionAndClosesThoseNobodyCanTake) {
    Recorder server;
    auto listener = listenLocal(server, "127.0.0.1");
    uint16_t port = listener->localPort();
    std::vector<int> clients;
    for (int i = 0; i < 20; ++i) clients.push_back(rawConnect(port));
    ASSERT_TRUE(wait([&] { return server.accepted.size() == 20; }));

    // With no delegate queue, an accepted connection is closed, not leaked.
    listener->synchronouslySetDelegateQueue(nullptr);
    int orphan = rawConnect(port);
    EXPECT_TRUE(peerClosed(orphan));
    ::close(orphan);
    for (int fd : clients) ::close(fd);
}

TEST_F(ConnectTest, ListenerOutOfDescriptorsRestsThenAcceptsAgain) {
#ifdef QUENBRIL_SANITIZED
    GTEST_SKIP() << "the sanitizer runtime needs free descriptors of its own";
#endif
    Recorder server;
    auto listener = listenLocal(server, "127.0.0.1");
    testing::internal::CaptureStderr();
    for (size_t episode = 1; episode <= 2; ++episode) {
        settle(0.2);  // descriptors the last episode let go are closed by now
        int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        rlimit old{};
        getrlimit(RLIMIT_NOFILE, &old);
        int lowestFree = 0;
        while (fcntl(lowestFree, F_GETFD) != -1) ++lowestFree;
        rlimit low = old;
        low.rlim_cur = static_cast<rlim_t>(lowestFree);  // no number left for an accepted socket
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
        Bytes a = address4("127.0.0.1", listener->localPort());
        int status =
            ::connect(client, reinterpret_cast<const sockaddr*>(a.data()), sizeof(sockaddr_in));
        settle(0.3);
        setrlimit(RLIMIT_NOFILE, &old);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(server.accepted.size(), episode - 1);
        ASSERT_TRUE(wait([&] { return server.accepted.size() == episode; }));
        ::close(client);
    }
    // One warning per episode, not one per rest nor one for the listener's whole life.
    std::string log = testing::internal::GetCapturedStderr();
    size_t warnings = 0;
    for (size_t at = log.find("out of descriptors"); at != std::string::npos;
         at = log.find("out of descriptors", at + 1)) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 2u);
}

TEST_F(ConnectTest, OneDisconnectPerCloseAndNoneForAnIdleSocket) {
    Recorder server;
    auto listener = listenLocal(server, "127.0.0.1");
    Recorder client;
    auto sock = makeSocket(client);
    sock->disconnect();  // idle: nothing to report
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(sock->connectToHost("127.0.0.1", listener->localPort()));
        ASSERT_TRUE(wait([&] { return client.connects == round; }));
        sock->disconnect();
        EXPECT_TRUE(sock->isDisconnected());
        ASSERT_TRUE(wait([&] { return client.disconnects == round; }));
        EXPECT_FALSE(client.disconnectError);
        EXPECT_EQ(client.disconnectedSocket, sock.get());
    }
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(client.disconnects, 2);
}

TEST_F(ConnectTest, DestroyingAConnectedSocketClosesItAndReportsWithNoSocket) {
    RawListener peer;
    Recorder client;
    auto sock = makeSocket(client);
    ASSERT_TRUE(sock->connectToHost("127.0.0.1", peer.port));
    int raw = peer.accept();
    ASSERT_TRUE(wait([&] { return client.connects == 1; }));
    sock.reset();
    EXPECT_TRUE(peerClosed(raw));
    ASSERT_TRUE(wait([&] { return client.disconnects == 1; }));
    EXPECT_EQ(client.disconnectedSocket, nullptr);
    ::close(raw);
}

TEST_F(ConnectTest, MisuseGivesConfigurationAndParameterErrors) {
    Recorder r;
    Error error;
    auto expectError = [&](bool started, int64_t code, const std::string& text) {
        EXPECT_FALSE(started) << text;
        EXPECT_EQ(error.domain, DispatchSocket::kErrorDomain);
        EXPECT_EQ(error.code, code);
        EXPECT_EQ(error.description, text);
    };

    auto orphan = DispatchSocket::make();
    expectError(orphan->connectToHost("127.0.0.1", 9, &error), 1,
                "Attempting to connect without a delegate. Set a delegate first.");
    expectError(orphan->acceptOnPort(0, &error), 1,
                "Attempting to accept without a delegate. Set a delegate first.");
    orphan->synchronouslySetDelegate(&r);
    expectError(orphan->connectToHost("127.0.0.1", 9, &error), 1,
                "Attempting to connect without a delegate queue. Set a delegate queue first.");
    expectError(orphan->acceptOnPort(0, &error), 1,
                "Attempting to accept without a delegate queue. Set a delegate queue first.");

    auto sock = makeSocket(r);
    expectError(sock->connectToHost("", 9, &error), 2,
                "Invalid host parameter (nil or \"\"). Should be a domain name or IP address "
                "string.");
    expectError(sock->connectToAddress(Bytes(10, 0), &error), 2,
                "A valid IPv4 or IPv6 address was not given");
    Bytes short6 = address4("127.0.0.1", 9);
    short6[0] = AF_INET6 & 0xff;  // the family field, 16 bytes: not a whole IPv6 address
    short6[1] = 0;
    expectError(sock->connectToAddress(short6, &error), 2,
                "A valid IPv4 or IPv6 address was not given");
    expectError(sock->connectToHost("127.0.0.1", 9, "nosuchif0", -1, &error), 2,
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                "address.");
    expectError(sock->acceptOnInterface("nosuchif0", 0, &error), 2,
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                "address.");

    sock->setIPv4Enabled(false);
    expectError(sock->connectToAddress(address4("127.0.0.1", 9), &error), 2,
                "IPv4 has been disabled and an IPv4 address was passed.");
    expectError(sock->acceptOnInterface("127.0.0.1", 0, &error), 2,
                "IPv4 has been disabled and specified interface doesn't support IPv6.");
    sock->setIPv6Enabled(false);
    expectError(sock->connectToHost("127.0.0.1", 9, &error), 1,
                "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    sock->setIPv4Enabled(true);
    sock->setIPv6Enabled(true);

    // A second connect or accept while the first is under way.
    RawListener peer;
    ASSERT_TRUE(sock->connectToHost("127.0.0.1", peer.port));
    expectError(sock->connectToHost("127.0.0.1", peer.port, &error), 1,
                "Attempting to connect while connected or accepting connections. Disconnect "
                "first.");
    expectError(sock->acceptOnPort(0, &error), 1,
                "Attempting to accept while connected or accepting connections. Disconnect "
                "first.");
    ASSERT_TRUE(wait([&] { return r.connects == 1; }));
    EXPECT_TRUE(sock->isConnected());
}

TEST_F(ConnectTest, DescriptorsAnswerOnlyOnTheSocketQueue) {
    Recorder server;
    auto listener = listenLocal(server, "127.0.0.1");
    EXPECT_EQ(listener->socketFD(), -1);
    EXPECT_EQ(listener->socket4FD(), -1);
    int inside = -1;
    listener->performBlock([&] { inside = listener->socketFD(); });
    EXPECT_GE(inside, 0);

    // Code on a queue that targets the socket queue runs on the socket queue.
    auto socketQueue = dispatch::Queue::makeSerial("own socket queue");
    auto inner = dispatch::Queue::makeSerial("inner", socketQueue);
    auto sock = DispatchSocket::make(&server, mainQueue(), socketQueue);
    ASSERT_TRUE(sock->acceptOnInterface("127.0.0.1", 0));
    int seen = -1;
    sock->markSocketQueueTargetQueue(inner);
    inner->sync([&] { seen = sock->socketFD(); });
    EXPECT_GE(seen, 0);
    sock->unmarkSocketQueueTargetQueue(inner);
}

TEST_F(ConnectTest, ClosedListenersAndConnectionsGiveTheirDescriptorsBack) {
    Recorder server;
    auto listener = listenLocal(server, "127.0.0.1");
    Recorder client;
    auto sock = makeSocket(client);
    ASSERT_TRUE(sock->connectToAddress(address4("127.0.0.1", listener->localPort())));
    ASSERT_TRUE(wait([&] { return client.connects == 1 && server.accepted.size() == 1; }));
    std::vector<std::shared_ptr<DispatchSocket>> sockets{listener, sock, server.accepted[0]};
    std::vector<int> fds;
    for (auto& s : sockets) fds.push_back(descriptorOf(*s));
    EXPECT_FALSE(std::any_of(fds.begin(), fds.end(), isClosed));
    for (auto& s : sockets) s->disconnect();
    // Once the sources on them have let go, on the sockets' queues.
    EXPECT_TRUE(wait([&] { return std::all_of(fds.begin(), fds.end(), isClosed); }));
}

TEST_F(ConnectTest, FailedBindBeforeConnectLeaksNoDescriptor) {
    Recorder server;
    auto listener = listenLocal(server, "127.0.0.1");
    std::string busy = "127.0.0.1:" + std::to_string(listener->localPort());
    Recorder client;
    auto sock = makeSocket(client);
    int before = openDescriptorCount();
    for (int i = 0; i < 5; ++i) {
        Error error;
        EXPECT_FALSE(
            sock->connectToAddress(address4("127.0.0.1", listener->localPort()), busy, -1, &error));
        EXPECT_EQ(error.failureReason(), "Error in bind() function");
    }
    // Not more than before: the last test's sockets may still be closing theirs, on their queues.
    EXPECT_LE(openDescriptorCount(), before);
    EXPECT_TRUE(sock->isDisconnected());
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(client.disconnects, 0);
}

TEST_F(ConnectTest, UnixDomainAcceptAndConnect) {
    auto dir =
        std::filesystem::temp_directory_path() / ("quenbril-sock-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string path = (dir / "s").string();

    Recorder server;
    auto listener = makeSocket(server);
    Error error;
    ASSERT_TRUE(listener->acceptOnUrl(path, &error)) << error.toString();
    Recorder client;
    auto sock = makeSocket(client);
    ASSERT_TRUE(sock->connectToUrl(path, 2.0, &error)) << error.toString();
    ASSERT_TRUE(wait([&] { return client.connects == 1 && server.accepted.size() == 1; }));
    EXPECT_EQ(client.connectedUrl, path);
    EXPECT_EQ(sock->connectedUrl(), path);
    EXPECT_FALSE(sock->connectedHost());

    sock->writeData(bytesOf("ping"), -1, 0);
    server.accepted[0]->readDataToLength(4, 2.0, 9);
    ASSERT_TRUE(wait([&] { return server.reads.size() == 1; }));
    EXPECT_EQ(textOf(server.reads[0].data), "ping");

    // A path too long for the address is refused, never cut to another file's name.
    std::string tooLong = (dir / std::string(120, 'x')).string();
    auto other = makeSocket(server);
    EXPECT_FALSE(other->acceptOnUrl(tooLong, &error));
    EXPECT_EQ(error.code, DispatchSocket::BadParamError);
    EXPECT_EQ(error.description,
              "Invalid unix domain url. Specify a valid file url that does not exist (e.g. "
              "\"file:///tmp/socket\")");
    auto third = makeSocket(client);
    EXPECT_FALSE(third->connectToUrl(tooLong, 1.0, &error));
    EXPECT_EQ(error.code, DispatchSocket::BadParamError);
    EXPECT_FALSE(third->connectToUrl("", 1.0, &error));
    EXPECT_EQ(error.description, "Invalid unix domain socket url.");

    sock.reset();
    listener.reset();
    server.accepted.clear();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quenbril::test
