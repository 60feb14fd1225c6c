// Receiver drivers share their listening ports with other programs that ask the same: each
// socket enables port reuse before it binds.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/EMHandler.h"
#include "MonitorApp/serverrole/SonyHandler.h"
#include "MonitorApp/serverrole/UHFRHandler.h"
#include "tests/MonitorApp/serverrole/fakes/DriverTestSupport.h"

namespace quenbril {
namespace {

/// A socket of another program on 127.0.0.1 that shares its port by SO_REUSEPORT alone: only
/// sockets that enable port reuse may bind beside it.
class PortSharer {
  public:
    PortSharer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~PortSharer() { ::close(fd_); }
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST(UdpEndpointPortReuse, TwoEndpointsBindThePortAnotherProgramShares) {
    PortSharer other;
    ASSERT_NE(other.port(), 0);
    UdpEndpointDelegate nobody;
    auto first = makeDispatchUdpEndpoint(&nobody);
    auto second = makeDispatchUdpEndpoint(&nobody);
    Error error;
    ASSERT_TRUE(first->enableReusePort(true, &error)) << error.toString();
    ASSERT_TRUE(second->enableReusePort(true, &error)) << error.toString();
    EXPECT_TRUE(first->bindToPort(other.port(), "127.0.0.1", &error)) << error.toString();
    EXPECT_TRUE(second->bindToPort(other.port(), "127.0.0.1", &error)) << error.toString();
    EXPECT_EQ(second->localPort(), other.port());

    auto plain = makeDispatchUdpEndpoint(&nobody);
    EXPECT_FALSE(plain->bindToPort(other.port(), "127.0.0.1", &error))
        << "without port reuse the port is not shared";
}

/// Logs the calls a driver makes on its socket, in order; nothing travels.
class LoggingUdp : public UdpEndpoint {
  public:
    explicit LoggingUdp(std::vector<std::string>* calls) : calls_(calls) {}
    bool bindToPort(uint16_t port, const std::string&, Error*) override {
        calls_->push_back("bind " + std::to_string(port));
        return true;
    }
    bool enableReusePort(bool flag, Error*) override {
        calls_->push_back(flag ? "reuse" : "no reuse");
        return true;
    }
    bool enableBroadcast(bool, Error*) override { return true; }
    bool setMulticastInterface(const std::string&, Error*) override { return true; }
    bool beginReceiving(Error*) override {
        calls_->push_back("receive");
        return true;
    }
    void sendData(Bytes, const std::string&, uint16_t, double, long) override {}
    std::optional<std::string> localHost() const override { return "127.0.0.1"; }
    uint16_t localPort() const override { return 0; }

  private:
    std::vector<std::string>* calls_;
};

class DriverPortReuse : public testing::DriverTest {
  protected:
    UdpEndpointFactory factory() {
        return [this](UdpEndpointDelegate*) {
            sockets_.emplace_back();
            return std::make_unique<LoggingUdp>(&sockets_.back());
        };
    }
    void discoverWith(int type, WirelessManager::Drivers drivers) {
        WirelessManager& r = makeRegistry(
            {{"10.1.0.7", type}}, {{"eth0", "10.1.0.2", "255.255.0.0"}}, std::move(drivers));
        r.doDiscovery();
    }
    /// The calls on each socket made, in order of making.
    std::deque<std::vector<std::string>> sockets_;
};

TEST_F(DriverPortReuse, EveryDriverSocketEnablesReuseBeforeItBinds) {
    using Calls = std::vector<std::string>;
    using Fill = std::function<void(WirelessManager::Drivers&, UdpEndpointFactory)>;
    struct Case {
        const char* driver;
        int type;
        Fill fill;
        Calls calls;
    };
    const Case cases[] = {
        {"EM",
         5,
         [](auto& d, auto f) { d.em = std::make_unique<EMHandler>(f); },
         {"reuse", "bind 8138", "receive"}},
        {"UHF-R",
         2,
         [](auto& d, auto f) { d.uhfr = std::make_unique<UHFRHandler>(f); },
         {"reuse", "bind 2202", "receive"}},
        {"Sony",
         6,
         [](auto& d, auto f) { d.sony = std::make_unique<SonyHandler>(f); },
         {"reuse", "bind 0", "receive"}},
    };
    for (const Case& c : cases) {
        const size_t before = sockets_.size();
        WirelessManager::Drivers drivers;
        c.fill(drivers, factory());
        discoverWith(c.type, std::move(drivers));
        ASSERT_EQ(sockets_.size(), before + 1) << c.driver;
        EXPECT_EQ(sockets_.back(), c.calls) << c.driver;
    }
}

}  // namespace
}  // namespace quenbril
