// The server role end to end: serverrole_host, a process made of the project's server-role
// classes, captures the dummy JACK server's inputs, polls a fake G3 receiver on loopback and
// serves remotes that speak the link over TCP.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/simserver/WireClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"

namespace quenbril::test {
namespace {

// The fake receiver and the registry's interface, both on loopback.
constexpr const char* kReceiverIP = "127.0.0.71";
constexpr const char* kInterfaceIP = "127.0.0.70";
constexpr uint16_t kG3Port = 53212;
constexpr const char* kReceiverName = "Lav 1";
constexpr int kStrips = 8;
constexpr int64_t kFirstCsID = 1000;
// What the fake pushes: RF 40 on antenna A, battery 3.
constexpr const char* kPush = "RF1 1\rRF 40 1 0\rBat 3\r";

/// A Sennheiser G3 receiver channel as the registry meets it: it answers "Name\r" with its name
/// and, once asked, pushes its RF and battery lines every 50 ms until it falls silent.
class FakeG3Receiver {
  public:
    FakeG3Receiver() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kG3Port);
        inet_pton(AF_INET, kReceiverIP, &a.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        thread_ = std::thread([this] { run(); });
    }
    ~FakeG3Receiver() {
        done_ = true;
        thread_.join();
        ::close(fd_);
    }
    bool bound() const { return bound_; }
    bool asked() const { return asked_.load(); }
    void setSilent(bool silent) { silent_ = silent; }

  private:
    void run() {
        sockaddr_in peer{};
        bool havePeer = false;
        auto nextPush = std::chrono::steady_clock::now();
        while (!done_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buf[1500];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0,
                                             reinterpret_cast<sockaddr*>(&from), &len);
                if (n > 0 && std::string(buf, static_cast<size_t>(n)) == "Name\r" && !silent_) {
                    peer = from;
                    havePeer = true;
                    asked_ = true;
                    send(peer, std::string("Name ") + kReceiverName + "\r");
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (havePeer && !silent_ && now >= nextPush) {
                send(peer, kPush);
                nextPush = now + std::chrono::milliseconds(50);
            }
        }
    }
    void send(const sockaddr_in& to, const std::string& text) {
        ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> done_{false};
    std::atomic<bool> silent_{false};
    std::atomic<bool> asked_{false};
    std::thread thread_;
};

/// The host process in a configuration folder of its own; stopped by its process id.
class ServerRoleHost {
  public:
    ServerRoleHost() {
        char dir[] = "/tmp/quenbril-serverrole-host-XXXXXX";
        if (!mkdtemp(dir)) return;
        folder_ = dir;
        std::vector<std::string> args{QUENBRIL_SERVERROLE_HOST_PATH, kReceiverIP, kInterfaceIP};
        for (int k = 1; k <= kStrips; ++k) args.push_back("Lav " + std::to_string(k));
        process_ = std::make_unique<ChildProcess>(
            args, std::vector<std::pair<std::string, std::string>>{{"XDG_CONFIG_HOME", folder_}},
            folder_ + "/stderr.log");
        const std::string marker = "listening on port ";
        for (int i = 0; i < 1000 && port_ == 0 && process_->running(); ++i) {
            const std::string text = log();
            const auto at = text.find(marker);
            if (at != std::string::npos) {
                port_ = static_cast<uint16_t>(std::atoi(text.c_str() + at + marker.size()));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~ServerRoleHost() {
        process_.reset();
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    uint16_t port() const { return port_; }
    /// Moves the host's main-loop clock on by six seconds at once.
    void skipSixSeconds() { ::kill(process_->pid(), SIGUSR1); }
    std::string log() const {
        std::ifstream in(folder_ + "/stderr.log");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    std::string folder_;
    std::unique_ptr<ChildProcess> process_;
    uint16_t port_ = 0;
};

/// The first strip's entry of a per-strip list, whether it is sent as values in strip order
/// or as id/value pairs.
Value firstStrip(const Dictionary& message) {
    const Array* list = message["Value"].arrayValue();
    if (!list || list->empty()) return Value();
    if (list->size() == 2 * kStrips && (*list)[0].longLongValue() == kFirstCsID) {
        return (*list)[1];
    }
    return (*list)[0];
}

std::vector<float> floats(const Value& data) {
    const Bytes* bytes = data.dataValue();
    std::vector<float> out;
    if (!bytes) return out;
    out.resize(bytes->size() / sizeof(float));
    std::memcpy(out.data(), bytes->data(), out.size() * sizeof(float));
    return out;
}

class ServerRoleHostTest : public testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        ASSERT_TRUE(receiver.bound()) << "the fake receiver's address is taken";
        host = std::make_unique<ServerRoleHost>();
        ASSERT_NE(host->port(), 0) << host->log();
        // A 375 Hz sine of RMS 0.1 into the host's first input, once its capture is there.
        for (int i = 0; i < 500 && inputs.empty(); ++i) {
            inputs = injector.ports("quenbril.*:in_.*");
            if (inputs.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_EQ(inputs.size(), static_cast<size_t>(kStrips)) << host->log();
        injector.setTone(0, 375.0, static_cast<float>(0.1 * std::sqrt(2.0)));
        ASSERT_TRUE(injector.connect(injector.outputPort(0), inputs[0]));
    }

    /// The next message of `command` that satisfies `good`, within `timeout` seconds.
    static std::optional<Dictionary> waitUntil(WireClient& remote, std::string_view command,
                                               const std::function<bool(const Dictionary&)>& good,
                                               double timeout = 10.0) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
        for (;;) {
            const double left =
                std::chrono::duration<double>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) return std::nullopt;
            auto m = remote.waitFor(command, left);
            if (!m) return std::nullopt;
            if (good(*m)) return m;
        }
    }

    FakeG3Receiver receiver;
    JackTestClient injector{"injector", 0, 1};
    std::vector<std::string> inputs;
    std::unique_ptr<ServerRoleHost> host;
};

TEST_F(ServerRoleHostTest, RemotesGetTheStripsLevelsReceiverFiguresAndTheStream) {
    WireClient first(host->port());
    ASSERT_TRUE(first.connected());
    ASSERT_TRUE(first.waitFor("Channels"));  // the first remote is the one streamed to
    WireClient second(host->port());
    ASSERT_TRUE(second.connected());

    for (WireClient* remote : {&first, &second}) {
        const Dictionary channels = remote == &first ? Dictionary{} : remote->expect("Channels");
        if (remote == &second) {
            const Array* list = channels["Value"].arrayValue();
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->size(), static_cast<size_t>(kStrips));
            for (int k = 0; k < kStrips; ++k) {
                EXPECT_EQ(list->at(static_cast<size_t>(k))["wirelessName"].optionalString(),
                          "Lav " + std::to_string(k + 1));
            }
        }
        EXPECT_EQ(remote->expect("MasterVersion")["Value"].doubleValue(), 3.8);
        EXPECT_EQ(remote->expect("InitialDataReady")["Value"].boolValue(), true);
    }

    // Strip 1 carries the tone at RMS 0.1; the others are silent.
    const auto levels = waitUntil(second, "LevelData", [](const Dictionary& m) {
        const Bytes* b = m["Value"].dataValue();
        return b && b->size() == kStrips && std::abs(static_cast<int8_t>((*b)[0]) - 60) <= 1;
    });
    ASSERT_TRUE(levels) << host->log();
    EXPECT_EQ((*levels)["Value"].dataValue()->at(1), 0);

    // The receiver's figures: RF as a byte of the level send, battery and antenna each second.
    ASSERT_TRUE(receiver.asked()) << host->log();
    const auto rf = waitUntil(second, "RfLevelData", [](const Dictionary& m) {
        const Bytes* b = m["Value"].dataValue();
        return b && !b->empty() && (*b)[0] == 40;
    });
    ASSERT_TRUE(rf) << host->log();
    EXPECT_EQ((*rf)["Value"].dataValue()->size(), static_cast<size_t>(kStrips));
    const auto battery = waitUntil(
        second, "BatteryData", [](const Dictionary& m) { return firstStrip(m).intValue() == 3; });
    ASSERT_TRUE(battery) << host->log();
    const Dictionary antenna = second.expect("AntennaData");
    EXPECT_EQ(firstStrip(antenna).optionalString(), "A");

    // Ten level sends to each warning pass, on the host's one clock.
    ASSERT_TRUE(second.waitFor("BatteryData"));
    for (int second_ = 0; second_ < 2; ++second_) {
        int sends = 0;
        for (;;) {
            auto m = second.next(5.0);
            ASSERT_TRUE(m) << host->log();
            const std::string command = WireClient::commandOf(*m);
            if (command == "LevelData") ++sends;
            if (command == "BatteryData") break;
        }
        EXPECT_EQ(sends, 10);
    }

    // Slot 0 streams strip 1 to the first remote's host.
    std::vector<float> left;
    while (left.size() < 48000) {
        auto m = first.waitFor("StreamData", 5.0);
        ASSERT_TRUE(m) << host->log();
        const std::vector<float> block = floats((*m)["LeftValue"]);
        ASSERT_EQ(block.size() % 128, 0u);
        ASSERT_EQ(floats((*m)["RightValue"]).size(), block.size());
        left.insert(left.end(), block.begin(), block.end());
    }
    // The first blocks may hold the tone's onset; the last half second is steady.
    const std::span<const float> steady(left.data() + 24000, 24000);
    EXPECT_NEAR(medianPeriodFrequency(steady, 48000.0), 375.0, 1.0);
    EXPECT_NEAR(sineLevelDb(steady), 20.0 * std::log10(0.1 * std::sqrt(2.0)), 1.0);
}

TEST_F(ServerRoleHostTest, ASilentReceiverLosesItsBatteryAfterFiveSecondsAndItsRecordAfterFifteen) {
    WireClient remote(host->port());
    ASSERT_TRUE(remote.connected());
    ASSERT_TRUE(waitUntil(remote, "BatteryData",
                          [](const Dictionary& m) { return firstStrip(m).intValue() == 3; }))
        << host->log();
    receiver.setSilent(true);
    // Pushes already on their way land before the clock moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    host->skipSixSeconds();
    ASSERT_TRUE(waitUntil(remote, "BatteryData",
                          [](const Dictionary& m) { return firstStrip(m).intValue() == -2; }))
        << host->log();
    const auto stillKnown = remote.expect("RfLevelData");
    ASSERT_NE(stillKnown["Value"].dataValue(), nullptr);
    EXPECT_EQ(stillKnown["Value"].dataValue()->at(0), 40) << "the record stays until 15 s";

    // Past fifteen seconds of silence, the next discovery pass drops the record: RF reads 0.
    for (int i = 0; i < 4; ++i) host->skipSixSeconds();
    ASSERT_TRUE(waitUntil(remote, "RfLevelData", [](const Dictionary& m) {
        const Bytes* b = m["Value"].dataValue();
        return b && !b->empty() && (*b)[0] == 0;
    })) << host->log();
    EXPECT_EQ(firstStrip(remote.expect("AntennaData")).optionalString(), "");
}

TEST_F(ServerRoleHostTest, ARemoteSendingGarbageIsDroppedWhileTheOtherKeepsItsFrames) {
    WireClient good(host->port());
    ASSERT_TRUE(good.connected());
    ASSERT_TRUE(good.waitFor("InitialDataReady"));
    WireClient bad(host->port());
    ASSERT_TRUE(bad.connected());
    ASSERT_TRUE(bad.waitFor("InitialDataReady"));

    // A header announcing a negative length.
    ASSERT_TRUE(bad.sendRaw(Bytes{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 'x', 'y'}));
    EXPECT_TRUE(bad.waitForClose(5.0)) << host->log();

    for (int i = 0; i < 5; ++i) EXPECT_TRUE(good.waitFor("LevelData")) << host->log();
}

}  // namespace
}  // namespace quenbril::test
