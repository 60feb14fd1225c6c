// The registry and the host on real datagram sockets over loopback addresses.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/KeyedArchiver.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

/// A plain datagram socket standing in for a receiver or a remote.
class Peer {
  public:
    Peer(const std::string& address, uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = testing::loopbackAddress(address, port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Peer() { ::close(fd_); }
    bool bound() const { return bound_; }
    uint16_t port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    void sendTo(const std::string& text, const std::string& address, uint16_t port) {
        sockaddr_in a = testing::loopbackAddress(address, port);
        ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    /// The next datagram and its sender, waiting at most 3 s (of a plain build).
    std::optional<std::pair<std::string, sockaddr_in>> receive() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, test::scaledMs(3000)) <= 0) return std::nullopt;
        char buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return std::nullopt;
        return std::make_pair(std::string(buf, static_cast<size_t>(n)), from);
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

class ServerRoleDatagramTest : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop_); }
    void TearDown() override { RunLoop::setMain(nullptr); }
    ManualRunLoop loop_;
};

TEST_F(ServerRoleDatagramTest, AG3ReceiverOnLoopbackIsFoundAndReportsItsFigures) {
    Peer receiver(testing::loopbackHost(9), WirelessDevice::kG3Port);
    ASSERT_TRUE(receiver.bound());
    WirelessManager::Services s;
    s.interfaces = [] {
        return std::vector<NetworkInterface>{{"lo", testing::loopbackHost(2), "255.0.0.0"}};
    };
    WirelessManager registry(std::move(s));
    ASSERT_EQ(registry.sockets().size(), 1u);

    registry.sendUDPData(testing::loopbackHost(9), WirelessDevice::kG3Port, "Name\r");
    auto asked = receiver.receive();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->first, "Name\r");
    char from[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &asked->second.sin_addr, from, sizeof from);
    EXPECT_STREQ(from, testing::loopbackHost(2).c_str()) << "sent from the interface's own address";
    EXPECT_EQ(ntohs(asked->second.sin_port), WirelessDevice::kG3Port);

    receiver.sendTo("Name Lav 1\r", testing::loopbackHost(2), WirelessDevice::kG3Port);
    ASSERT_TRUE(loop_.runUntil([&] { return registry.device("Lav 1") != nullptr; }, 3.0));
    EXPECT_EQ(registry.device("Lav 1")->ip(), testing::loopbackHost(9));
    receiver.sendTo("RF1 1\rRF 70 1 0\rBat 4\r", testing::loopbackHost(2), WirelessDevice::kG3Port);
    ASSERT_TRUE(loop_.runUntil([&] { return registry.device("Lav 1")->rf() == 70; }, 3.0));
    EXPECT_EQ(registry.device("Lav 1")->battery(), 4);
    EXPECT_TRUE(registry.device("Lav 1")->isA_active());
}

TEST_F(ServerRoleDatagramTest, TheHostSendsTextAndTakesOnlyDatagramsThatAreArchives) {
    struct Received : ClientManagerDelegate {
        void messageReceived(const Value& object, UdpEndpoint*) override { got.push_back(object); }
        std::vector<Value> got;
    } received;
    ClientManager::Services s;
    s.port = 0;
    s.interface = "127.0.0.1";
    ClientManager host(std::move(s));
    host.setDelegate(&received);
    host.startListening();
    ASSERT_NE(host.udpPort(), 0);

    Peer remote("127.0.0.1", 0);
    host.sendUDPData("127.0.0.1", remote.port(), "hello", 7);
    auto text = remote.receive();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->first, "hello");
    EXPECT_EQ(ntohs(text->second.sin_port), host.udpPort());

    auto archive = KeyedArchiver::archivedData(Value(Dictionary{{"Command", Value("Ping")}}));
    remote.sendTo("not an archive", "127.0.0.1", host.udpPort());
    remote.sendTo(std::string(archive->begin(), archive->begin() + 20), "127.0.0.1",
                  host.udpPort());
    remote.sendTo(std::string(archive->begin(), archive->end()), "127.0.0.1", host.udpPort());
    ASSERT_TRUE(loop_.runUntil([&] { return !received.got.empty(); }, 3.0));
    loop_.runFor(0.05);
    ASSERT_EQ(received.got.size(), 1u);
    EXPECT_EQ(received.got[0]["Command"], Value("Ping"));
}

}  // namespace
}  // namespace quenbril
