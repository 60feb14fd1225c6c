#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "sockets/RunLoopSocketException.h"
#include "sockets/RunLoopUdpSocket.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string text(const Bytes& data) { return std::string(data.begin(), data.end()); }

Bytes address4(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

Bytes address6(uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    const auto* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

/// A plain UDP socket of one family for the other end.
struct Peer {
    explicit Peer(int family = AF_INET) : family(family) {
        fd = ::socket(family, SOCK_DGRAM, 0);
        Bytes a = family == AF_INET ? address4(0) : address6(0);
        ::bind(fd, reinterpret_cast<const sockaddr*>(a.data()), a.size());
    }
    ~Peer() { ::close(fd); }
    uint16_t port() const {
        sockaddr_in6 a{};
        socklen_t length = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        return ntohs(a.sin6_port);  // the port sits at the same offset in both families
    }
    void sendTo(const Bytes& data, uint16_t port) const {
        Bytes a = family == AF_INET ? address4(port) : address6(port);
        ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(a.data()),
                 a.size());
    }
    std::string receive() const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, test::scaledMs(2000)) != 1) return "<nothing>";
        char buffer[256];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return std::string(buffer, n > 0 ? n : 0);
    }
    int family;
    int fd;
};

struct Recorder : RunLoopUdpSocketDelegate {
    struct Received {
        std::string data;
        long tag;
        std::string host;
        uint16_t port;
    };
    std::vector<long> sent;
    std::vector<std::pair<long, Error>> sendErrors, receiveErrors;
    std::vector<Received> received;
    std::vector<bool> answers;  // what to answer, in order; then true
    int closes = 0;
    bool keepReceiving = false;

    void onUdpSocketDidSendDataWithTag(RunLoopUdpSocket*, long tag) override {
        sent.push_back(tag);
    }
    void onUdpSocketDidNotSendDataWithTag(RunLoopUdpSocket*, long tag, const Error& e) override {
        sendErrors.emplace_back(tag, e);
    }
    std::optional<bool> onUdpSocketDidReceiveData(RunLoopUdpSocket* sock, const Bytes& data,
                                                  long tag, const std::string& host,
                                                  uint16_t port) override {
        received.push_back({text(data), tag, host, port});
        bool answer = answers.empty() ? true : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        if (answer && keepReceiving) sock->receiveWithTimeout(-1, tag + 1);
        return answer;
    }
    void onUdpSocketDidNotReceiveDataWithTag(RunLoopUdpSocket*, long tag, const Error& e) override {
        receiveErrors.emplace_back(tag, e);
    }
    void onUdpSocketDidClose(RunLoopUdpSocket*) override { ++closes; }
};

class RunLoopUdpSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop_);
        socket_ = RunLoopUdpSocket::make(&recorder_);
    }
    void TearDown() override {
        socket_.reset();
        loop_.runPending();
        RunLoop::setMain(nullptr);
    }
    bool waitFor(const std::function<bool()>& done) { return loop_.runUntil(done, 5.0); }

    ManualRunLoop loop_;
    Recorder recorder_;
    std::shared_ptr<RunLoopUdpSocket> socket_;
};

TEST_F(RunLoopUdpSocketTest, SendsAreRefusedWhenTheyCannotGo) {
    Peer peer;
    // Unconnected: the connected form has nowhere to send.
    EXPECT_FALSE(socket_->sendData(bytes("x"), -1, 1));
    EXPECT_FALSE(socket_->sendData(Bytes{}, address4(peer.port()), -1, 2));
    EXPECT_FALSE(socket_->sendData(bytes("x"), Bytes(5, 0), -1, 3));
    EXPECT_TRUE(socket_->sendData(bytes("queued"), address4(peer.port()), -1, 4));
    socket_->closeAfterSending();
    EXPECT_FALSE(socket_->sendData(bytes("late"), address4(peer.port()), -1, 5));

    ASSERT_TRUE(waitFor([&] { return socket_->isClosed(); }));
    EXPECT_EQ(recorder_.sent, std::vector<long>{4});
    EXPECT_EQ(peer.receive(), "queued");
    ASSERT_TRUE(waitFor([&] { return recorder_.closes == 1; }));
}

TEST_F(RunLoopUdpSocketTest, ConnectingToAnEmptyHostIsANameLookupError) {
    Error error;
    EXPECT_FALSE(socket_->connectToHost("", 9, &error));
    EXPECT_EQ(error.domain, "kCFStreamErrorDomainNetDB");
    EXPECT_EQ(error.code, 8);
    EXPECT_FALSE(socket_->isConnected());
}

TEST_F(RunLoopUdpSocketTest, ConnectedSocketSendsToItsPeerOnly) {
    Peer peer;
    Error error;
    ASSERT_TRUE(socket_->connectToHost("127.0.0.1", peer.port(), &error)) << error.toString();
    EXPECT_TRUE(socket_->isConnected());
    EXPECT_TRUE(socket_->isConnectedToHost("127.0.0.1", peer.port()));
    EXPECT_TRUE(socket_->isIPv4());
    EXPECT_FALSE(socket_->isIPv6());
    EXPECT_FALSE(socket_->sendData(bytes("x"), address4(peer.port()), -1, 1));
    ASSERT_TRUE(socket_->sendData(bytes("hello"), -1, 2));
    ASSERT_TRUE(waitFor([&] { return !recorder_.sent.empty(); }));
    EXPECT_EQ(peer.receive(), "hello");
    EXPECT_GT(socket_->maximumTransmissionUnit(), 0u);

    peer.sendTo(bytes("back"), socket_->localPort());
    socket_->receiveWithTimeout(-1, 3);
    ASSERT_TRUE(waitFor([&] { return !recorder_.received.empty(); }));
    EXPECT_EQ(recorder_.received[0].data, "back");
    EXPECT_EQ(recorder_.received[0].port, peer.port());
}

TEST_F(RunLoopUdpSocketTest, BindingPortZeroKeepsBothFamilies) {
    Error error;
    ASSERT_TRUE(socket_->bindToPort(0, &error)) << error.toString();
    EXPECT_TRUE(socket_->isIPv4());
    EXPECT_TRUE(socket_->isIPv6());
    EXPECT_NE(socket_->localPort(), 0);
    EXPECT_EQ(socket_->maximumTransmissionUnit(), 0u);  // the any address is on no interface
    try {
        socket_->bindToPort(0);
        FAIL() << "a second bind must throw";
    } catch (const RunLoopSocketException& e) {
        EXPECT_EQ(e.name(), "RunLoopUdpSocketException");
        EXPECT_EQ(e.reason(), "Cannot bind a socket more than once.");
    }
    socket_->close();
    EXPECT_THROW(socket_->connectToHost("127.0.0.1", 9), RunLoopSocketException);
}

TEST_F(RunLoopUdpSocketTest, FailedJoinCarriesTheReasonAsItsCode) {
    EXPECT_THROW(socket_->joinMulticastGroup("239.1.2.3"), RunLoopSocketException);  // unbound
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    Error error;
    EXPECT_FALSE(socket->joinMulticastGroup("127.0.0.1", &error));  // not a group address
    EXPECT_EQ(error.domain, "kCFStreamErrorDomainPOSIX");
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_EQ(error.description, "Unable to join IPv4 multicast group");
    EXPECT_FALSE(socket->joinMulticastGroup("::1", &error));  // no IPv6 socket left
    EXPECT_EQ(error.domain, "RunLoopUdpSocketErrorDomain");
    EXPECT_EQ(error.code, 1);
}

TEST_F(RunLoopUdpSocketTest, ReceiveThatTheDelegateDeclinesTakesTheNextDatagram) {
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    Peer peer;
    recorder_.answers = {false};
    socket->receiveWithTimeout(-1, 9);
    peer.sendTo(bytes("first"), socket->localPort());
    peer.sendTo(bytes("second"), socket->localPort());
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == 2; }));
    EXPECT_EQ(recorder_.received[0].data, "first");
    EXPECT_EQ(recorder_.received[1].data, "second");
    EXPECT_EQ(recorder_.received[1].tag, 9);
    EXPECT_EQ(recorder_.received[1].host, "127.0.0.1");
    EXPECT_EQ(recorder_.received[1].port, peer.port());

    // An empty datagram is a datagram, not the end of anything.
    peer.sendTo(Bytes{}, socket->localPort());
    socket->receiveWithTimeout(-1, 10);
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == 3; }));
    EXPECT_EQ(recorder_.received[2].data, "");
    EXPECT_EQ(recorder_.received[2].tag, 10);
}

TEST_F(RunLoopUdpSocketTest, SuccessiveReceivesAlternateBetweenTheFamilies) {
    ASSERT_TRUE(socket_->bindToPort(0));
    Peer peer4(AF_INET), peer6(AF_INET6);
    // Each family's socket has a port of its own: learn the IPv6 one from a datagram it sends.
    socket_->sendData(bytes("probe"), address6(peer6.port()), -1, 0);
    ASSERT_TRUE(waitFor([&] { return recorder_.sent.size() == 1; }));
    sockaddr_in6 from{};
    socklen_t length = sizeof from;
    char ignored[16];
    ASSERT_GT(::recvfrom(peer6.fd, ignored, sizeof ignored, 0, reinterpret_cast<sockaddr*>(&from),
                         &length),
              0);
    uint16_t port6 = ntohs(from.sin6_port);

    // Loopback datagrams are queued before sendto returns: two wait on each family.
    peer4.sendTo(bytes("four"), socket_->localPort());
    peer4.sendTo(bytes("four"), socket_->localPort());
    peer6.sendTo(bytes("six"), port6);
    peer6.sendTo(bytes("six"), port6);
    for (long tag = 1; tag <= 4; ++tag) socket_->receiveWithTimeout(-1, tag);
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == 4; }));
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_NE(recorder_.received[i].data, recorder_.received[i - 1].data) << i;
    }
}

TEST_F(RunLoopUdpSocketTest, ReceiveTimesOutOnTheLoopsClock) {
    ASSERT_TRUE(socket_->bindToAddress("localhost", 0));
    socket_->receiveWithTimeout(2.0, 4);
    loop_.advance(1.9);
    EXPECT_TRUE(recorder_.receiveErrors.empty());
    loop_.advance(0.2);
    ASSERT_EQ(recorder_.receiveErrors.size(), 1u);
    EXPECT_EQ(recorder_.receiveErrors[0].first, 4);
    EXPECT_EQ(recorder_.receiveErrors[0].second.domain, "RunLoopUdpSocketErrorDomain");
    EXPECT_EQ(recorder_.receiveErrors[0].second.code, 5);
    EXPECT_EQ(recorder_.receiveErrors[0].second.description, "Receive operation timed out");
}

TEST_F(RunLoopUdpSocketTest, OversizedDatagramFailsTheReceiveAndIsNotDeliveredCut) {
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    socket->setMaxReceiveBufferSize(16);
    Peer peer;
    peer.sendTo(Bytes(100, 'a'), socket->localPort());
    peer.sendTo(bytes("fits"), socket->localPort());
    socket->receiveWithTimeout(-1, 1);
    socket->receiveWithTimeout(-1, 2);
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == 1; }));
    ASSERT_EQ(recorder_.receiveErrors.size(), 1u);
    EXPECT_EQ(recorder_.receiveErrors[0].first, 1);
    EXPECT_EQ(recorder_.receiveErrors[0].second.domain, Error::kPosixDomain);
    EXPECT_EQ(recorder_.receiveErrors[0].second.code, EMSGSIZE);
    EXPECT_EQ(recorder_.received[0].data, "fits");
    EXPECT_EQ(recorder_.received[0].tag, 2);
}

TEST_F(RunLoopUdpSocketTest, FloodOfDatagramsDoesNotStarveATimerOnTheSameLoop) {
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    Peer peer;
    constexpr int kDatagrams = 200;
    for (int i = 0; i < kDatagrams; ++i) peer.sendTo(bytes("x"), socket->localPort());
    recorder_.keepReceiving = true;
    socket->receiveWithTimeout(-1, 0);
    size_t receivedWhenTimerFired = 0;
    Timer timer =
        loop_.scheduleTimer(0, false, [&] { receivedWhenTimerFired = recorder_.received.size(); });
    loop_.advance(0);
    EXPECT_GT(receivedWhenTimerFired, 0u);
    EXPECT_LE(receivedWhenTimerFired, size_t(RunLoopUdpSocket::kMaxDatagramsPerPass));
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == kDatagrams; }));
}

TEST_F(RunLoopUdpSocketTest, ModesWithoutTheDefaultOneHoldTheWorkUntilOneIsAdded) {
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    EXPECT_FALSE(socket->setRunLoopModes({}));
    ASSERT_TRUE(socket->setRunLoopModes({"SomeOtherMode"}));
    Peer peer;
    peer.sendTo(bytes("held"), socket->localPort());
    socket->receiveWithTimeout(1.0, 1);
    loop_.runFor(0.05);
    loop_.advance(5);
    EXPECT_TRUE(recorder_.received.empty());
    EXPECT_TRUE(recorder_.receiveErrors.empty());
    ASSERT_TRUE(socket->setRunLoopModes({"kCFRunLoopCommonModes"}));
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == 1; }));
    EXPECT_EQ(recorder_.received[0].data, "held");
}

TEST_F(RunLoopUdpSocketTest, MovedSocketReceivesOnTheOtherThread) {
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    uint16_t port = socket->localPort();
    std::atomic<bool> done{false};
    std::atomic<bool> onWorker{false};
    std::thread worker([&] {
        ManualRunLoop workerLoop;
        socket->moveToRunLoop(&workerLoop);
        socket->receiveWithTimeout(-1, 1);
        workerLoop.runUntil([&] { return !recorder_.received.empty(); }, 5.0);
        onWorker = workerLoop.isCurrentThread() && !recorder_.received.empty();
        socket.reset();
        workerLoop.runPending();
        done = true;
    });
    Peer peer;
    peer.sendTo(bytes("there"), port);
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(onWorker);
    ASSERT_EQ(recorder_.received.size(), 1u);
    EXPECT_EQ(recorder_.received[0].data, "there");
}

TEST_F(RunLoopUdpSocketTest, WorksOnDescriptorsPastTheSelectLimit) {
    // Readiness checks that used select() would write past its 1024-descriptor set here.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 1100) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2048);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 1100) GTEST_SKIP() << "cannot open 1100 descriptors here";
    std::vector<int> fillers;
    while (fillers.empty() || fillers.back() < 1030) {
        int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) break;
        fillers.push_back(fd);
    }
    auto socket = RunLoopUdpSocket::makeIPv4(&recorder_);
    for (int fd : fillers) ::close(fd);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    Peer peer;
    socket->receiveWithTimeout(-1, 1);
    loop_.runPending();  // the receive waits on its socket's readiness
    peer.sendTo(bytes("high"), socket->localPort());
    ASSERT_TRUE(waitFor([&] { return recorder_.received.size() == 1; }));
    ASSERT_TRUE(socket->sendData(bytes("back"), address4(peer.port()), -1, 2));
    ASSERT_TRUE(waitFor([&] { return recorder_.sent.size() == 1; }));
    EXPECT_EQ(peer.receive(), "back");
}

}  // namespace
}  // namespace quenbril
