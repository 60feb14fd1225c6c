#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/link/LinkFrame.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "foundation/KeyedArchiver.h"
#include "foundation/ManualRunLoop.h"
#include "platform/discovery/ServicePublisher.h"
#include "sockets/DispatchSocket.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::WireClient;

struct Events : ClientManagerDelegate {
    void messageReceived(const Value& object, DispatchSocket*) override { tcp.push_back(object); }
    void messageReceived(const Value& object, UdpEndpoint*) override { udp.push_back(object); }
    void connected(DispatchSocket*) override { ++connects; }
    void disconnected(const std::optional<Error>&, const std::optional<std::string>& ip) override {
        disconnectedIPs.push_back(ip);
    }
    std::vector<Value> tcp, udp;
    int connects = 0;
    std::vector<std::optional<std::string>> disconnectedIPs;
};

struct Publisher : ServicePublisher {
    bool publish(const std::string& n, const std::string& t, uint16_t p) override {
        name = n;
        type = t;
        port = p;
        return true;
    }
    void setTXTRecord(const std::map<std::string, std::string>& r) override { txt = r; }
    void unpublish() override {}
    std::string name, type = "(none)";
    uint16_t port = 0;
    std::map<std::string, std::string> txt;
};

struct Datagram {
    Bytes data;
    std::string host;
    uint16_t port;
    long tag;
};

struct FakeUdp : UdpEndpoint {
    explicit FakeUdp(std::vector<Datagram>* sent) : sent(sent) {}
    bool bindToPort(uint16_t, const std::string&, Error*) override { return true; }
    bool enableReusePort(bool, Error*) override { return true; }
    bool enableBroadcast(bool, Error*) override { return true; }
    bool setMulticastInterface(const std::string&, Error*) override { return true; }
    bool beginReceiving(Error*) override { return true; }
    void sendData(Bytes data, const std::string& host, uint16_t port, double, long tag) override {
        sent->push_back({std::move(data), host, port, tag});
    }
    std::optional<std::string> localHost() const override { return "0.0.0.0"; }
    uint16_t localPort() const override { return 40000; }
    std::vector<Datagram>* sent;
};

Dictionary message(const std::string& command, Value value = Value(true)) {
    return {{"Command", Value(command)}, {"Value", std::move(value)}};
}

Bytes header(int32_t marker, int32_t length) {
    auto h = LinkFrameHeader{marker, length}.encode();
    return Bytes(h.begin(), h.end());
}

class ClientManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop_);
        ClientManager::Services services;
        services.port = 0;
        services.interface = "127.0.0.1";
        services.publisher = &publisher_;
        services.udp = [this](UdpEndpointDelegate* d) {
            udpDelegate_ = d;
            auto u = std::make_unique<FakeUdp>(&datagrams_);
            udp_ = u.get();
            return u;
        };
        host_ = std::make_unique<ClientManager>(std::move(services));
        host_->setDelegate(&events_);
        host_->startListening();
        ASSERT_NE(host_->listeningPort(), 0);
    }
    void TearDown() override {
        host_.reset();
        RunLoop::setMain(nullptr);
    }

    std::unique_ptr<WireClient> connect(int receiveBuffer = 0) {
        const size_t before = host_->connectedSockets().size();
        auto c = std::make_unique<WireClient>(host_->listeningPort(), receiveBuffer);
        EXPECT_TRUE(c->connected());
        EXPECT_TRUE(wait([&] { return host_->connectedSockets().size() == before + 1; }));
        return c;
    }
    bool wait(const std::function<bool()>& done) { return loop_.runUntil(done, 5.0); }
    DispatchSocket* socket(size_t i) { return host_->connectedSockets().at(i).get(); }

    ManualRunLoop loop_;
    Events events_;
    Publisher publisher_;
    std::vector<Datagram> datagrams_;
    FakeUdp* udp_ = nullptr;
    UdpEndpointDelegate* udpDelegate_ = nullptr;
    std::unique_ptr<ClientManager> host_;
};

TEST_F(ClientManagerTest, AnnouncesTheServiceWithItsRecord) {
    EXPECT_EQ(publisher_.type, "_quenbril._tcp.");
    EXPECT_EQ(publisher_.name, "");
    EXPECT_EQ(publisher_.port, host_->listeningPort());
    EXPECT_EQ(publisher_.txt,
              (std::map<std::string, std::string>{{"cow", "moo"}, {"duck", "quack"}}));
    EXPECT_EQ(host_->localDescription(), "port " + std::to_string(host_->listeningPort()));

    Publisher none;
    ClientManager::Services remoteRole;
    remoteRole.port = 0;
    remoteRole.actAsClient = true;
    remoteRole.publisher = &none;
    ClientManager remote(std::move(remoteRole));
    remote.startListening();
    EXPECT_EQ(remote.listeningPort(), 0);
    EXPECT_EQ(none.type, "(none)");
}

TEST_F(ClientManagerTest, TwoConnectionsFromOneHostBothGetFramesAndOnlyTheLaterIsAddressed) {
    auto first = connect();
    auto second = connect();
    EXPECT_EQ(events_.connects, 2);
    DispatchSocket* later = socket(1);
    EXPECT_EQ(host_->socketIPs(), (std::map<std::string, DispatchSocket*>{{"127.0.0.1", later}}));

    host_->sendDictionaryToEveryone(message("LevelData", Value(Bytes(128, 7))));
    EXPECT_EQ(first->expect("LevelData")["Value"], Value(Bytes(128, 7)));
    EXPECT_EQ(second->expect("LevelData")["Value"], Value(Bytes(128, 7)));

    host_->sendDictionaryTo(message("Addressed"), "127.0.0.1");
    host_->sendDictionaryTo(message("Nobody"), "127.0.0.9");
    host_->sendStream(message("StreamData"), "127.0.0.1");
    EXPECT_TRUE(second->waitFor("Addressed"));
    EXPECT_TRUE(first->waitFor("StreamData"));

    first.reset();
    ASSERT_TRUE(wait([&] { return events_.disconnectedIPs.size() == 1; }));
    EXPECT_EQ(events_.disconnectedIPs[0], std::nullopt) << "the table held the later one";
    EXPECT_EQ(host_->socketIPs().at("127.0.0.1"), later);
}

TEST_F(ClientManagerTest, MessagesOfAnyMarkerAreReadAndDamagedOnesSkipped) {
    auto remote = connect();
    remote->send(message("ClientID", Value(3)));
    auto body = KeyedArchiver::archivedData(Value(message("SoloOn")));
    Bytes marked = header(100, static_cast<int32_t>(body->size()));
    marked.insert(marked.end(), body->begin(), body->end());
    remote->sendRaw(marked);
    Bytes junk = header(0, 4);
    junk.insert(junk.end(), {1, 2, 3, 4});
    remote->sendRaw(junk);
    remote->send(message("Last"));
    ASSERT_TRUE(wait([&] { return events_.tcp.size() == 3; }));
    EXPECT_EQ(events_.tcp[0]["Value"], Value(3));
    EXPECT_EQ(events_.tcp[1]["Command"], Value("SoloOn"));
    EXPECT_EQ(events_.tcp[2]["Command"], Value("Last"));
    EXPECT_EQ(host_->connectedSockets().size(), 1u);
}

TEST_F(ClientManagerTest, BadLengthsCloseOnlyThatRemote) {
    auto good = connect();
    for (int32_t length : {0, -1, LinkFrameHeader::kMaxLength + 1}) {
        auto bad = connect();
        bad->sendRaw(header(0, length));
        ASSERT_TRUE(wait([&] { return host_->connectedSockets().size() == 1; })) << length;
        EXPECT_TRUE(bad->waitForClose(test::scaledSeconds(3.0))) << length;
        host_->sendDictionaryToEveryone(message("StillHere", Value(length)));
        EXPECT_EQ(good->expect("StillHere")["Value"], Value(length));
    }
}

TEST_F(ClientManagerTest, AFrameThatStopsArrivingIsCutOffButASlowOneAndAnIdleRemoteStay) {
    auto idle = connect();
    auto stalled = connect();
    DispatchSocket* stalledSocket = socket(1);
    loop_.advance(60);
    EXPECT_EQ(host_->connectedSockets().size(), 2u);

    // A frame whose bytes keep coming is read to its end, however long it takes in all.
    auto body = KeyedArchiver::archivedData(Value(message("Slow", Value(Bytes(400, 9)))));
    Bytes slow = header(0, static_cast<int32_t>(body->size()));
    slow.insert(slow.end(), body->begin(), body->end());
    size_t sent = 0;
    for (size_t step : {11, 20, 100, 100, 100}) {
        stalled->sendRaw(Bytes(slow.begin() + sent, slow.begin() + sent + step));
        sent += step;
        const size_t bodyBytes = sent - LinkFrameHeader::kSize;
        ASSERT_TRUE(wait([&] { return host_->frameBytesReceived(stalledSocket) == bodyBytes; }));
        loop_.advance(ClientManager::kFrameTimeout - 0.1);
    }
    stalled->sendRaw(Bytes(slow.begin() + sent, slow.end()));
    ASSERT_TRUE(wait([&] { return events_.tcp.size() == 1; }));
    EXPECT_EQ(events_.tcp[0]["Command"], Value("Slow"));

    // One that stops is cut off when its last bytes are kFrameTimeout old.
    Bytes h = header(0, 100);
    stalled->sendRaw(Bytes(h.begin(), h.begin() + 3));
    ASSERT_TRUE(wait([&] { return host_->frameBytesReceived(stalledSocket) == 3; }));
    loop_.advance(ClientManager::kFrameTimeout - 0.1);
    stalled->sendRaw(Bytes(h.begin() + 3, h.end()));
    stalled->sendRaw(Bytes{1});
    ASSERT_TRUE(wait([&] { return host_->frameBytesReceived(stalledSocket) == 1; }));
    loop_.advance(ClientManager::kFrameTimeout - 0.1);
    EXPECT_EQ(host_->connectedSockets().size(), 2u);
    loop_.advance(0.2);
    ASSERT_TRUE(wait([&] { return host_->connectedSockets().size() == 1; }));
    EXPECT_TRUE(stalled->waitForClose(test::scaledSeconds(3.0)));

    // A completed frame ends its deadline; the next begins its own.
    idle->send(message("One"));
    ASSERT_TRUE(wait([&] { return events_.tcp.size() == 2; }));
    loop_.advance(ClientManager::kFrameTimeout * 3);
    EXPECT_EQ(host_->connectedSockets().size(), 1u);
}

TEST_F(ClientManagerTest, ARemoteThatStopsReadingIsDroppedWithoutStallingTheOthers) {
    auto reader = connect();
    auto sleeper = connect(4096);
    DispatchSocket* readerSocket = socket(0);
    const Dictionary big = message("LevelData", Value(Bytes(64 * 1024, 1)));
    int sent = 0;
    while (host_->connectedSockets().size() == 2 && sent < 200) {
        host_->sendDictionaryToEveryone(big);
        ++sent;
        ASSERT_TRUE(reader->waitFor("LevelData")) << sent;
        ASSERT_TRUE(wait([&] { return host_->queuedBytes(readerSocket) == 0; })) << sent;
    }
    ASSERT_TRUE(wait([&] { return host_->connectedSockets().size() == 1; }));
    EXPECT_GE(sent * 64 * 1024, static_cast<int>(LinkClientWriter::kMaxQueuedBytes));
    EXPECT_EQ(host_->connectedSockets()[0].get(), readerSocket);
    host_->sendDictionaryToEveryone(message("After"));
    EXPECT_TRUE(reader->waitFor("After"));
}

TEST_F(ClientManagerTest, TheStreamingRemoteLeavingClearsTheStreamHost) {
    auto other = connect();
    auto streaming = connect();
    host_->startStreamTo(socket(1));
    EXPECT_EQ(host_->streamHost(), "127.0.0.1");
    host_->sendStream(message("StreamData"));
    EXPECT_TRUE(streaming->waitFor("StreamData"));

    streaming.reset();
    ASSERT_TRUE(wait([&] { return host_->connectedSockets().size() == 1; }));
    EXPECT_EQ(host_->streamHost(), std::nullopt);
    EXPECT_EQ(host_->streamPort(), -1);
    host_->sendUDPData(Bytes{1}, 5);
    EXPECT_TRUE(datagrams_.empty());
}

TEST_F(ClientManagerTest, OnlyTheStreamingConnectionStopsTheStreamOfItsAddress) {
    // Two remotes on one machine: the stream is the first one's.
    auto streaming = connect();
    auto neighbour = connect();
    DispatchSocket* neighbourSocket = socket(1);
    host_->startStreamTo(socket(0));
    host_->stopStreamTo(neighbourSocket);
    EXPECT_EQ(host_->streamHost(), "127.0.0.1");

    neighbour.reset();
    ASSERT_TRUE(wait([&] { return host_->connectedSockets().size() == 1; }));
    EXPECT_EQ(host_->streamHost(), "127.0.0.1");
    EXPECT_EQ(host_->streamPort(), ClientManager::kStreamPort);
    host_->sendStream(message("StreamData"));
    EXPECT_TRUE(streaming->waitFor("StreamData"));
    host_->sendUDPData(Bytes{1}, 5);
    ASSERT_EQ(datagrams_.size(), 1u);
    EXPECT_EQ(datagrams_[0].port, ClientManager::kStreamPort);

    host_->stopStreamTo(socket(0));
    EXPECT_EQ(host_->streamHost(), std::nullopt);
    EXPECT_EQ(host_->streamPort(), -1);
}

TEST_F(ClientManagerTest, AWholeStateWaitsOnceForARemoteThatReadsSlowly) {
    auto reader = connect();
    auto slow = connect(4096);
    DispatchSocket* slowSocket = socket(1);
    // Far more copies of the notebook than a remote's queue holds, with level frames between,
    // sent while neither remote reads (the loop does not run: no write finishes meanwhile).
    constexpr int kCopies = 100;
    const size_t kNotes = 64 * 1024;
    for (int i = 0; i < kCopies; ++i) {
        Dictionary book = message("NotebookEntries", Value(Bytes(kNotes, 1)));
        book.set("Copy", Value(i));
        host_->sendDictionaryToEveryone(book);
        host_->sendDictionaryToEveryone(message("LevelData", Value(i)));
        ASSERT_EQ(host_->connectedSockets().size(), 2u) << "copy " << i;
    }
    EXPECT_LE(host_->queuedBytes(slowSocket), 4 * kNotes);

    // The remotes read now (the loop runs: writes finish, and waiting frames go out): every
    // level frame in order, and the newest notebook last.
    auto readAll = [&](WireClient& remote, std::vector<int>& levels, std::vector<int>& copies) {
        return wait([&] {
            while (auto m = remote.next(0.001)) {
                const Value& value =
                    WireClient::commandOf(*m) == "LevelData" ? (*m)["Value"] : (*m)["Copy"];
                (WireClient::commandOf(*m) == "LevelData" ? levels : copies)
                    .push_back(value.intValue().value_or(-1));
            }
            return levels.size() == kCopies && !copies.empty() && copies.back() == kCopies - 1;
        });
    };
    for (WireClient* remote : {slow.get(), reader.get()}) {
        std::vector<int> levels, copies;
        ASSERT_TRUE(readAll(*remote, levels, copies)) << levels.size() << " level frames";
        for (int i = 0; i < kCopies; ++i) EXPECT_EQ(levels[static_cast<size_t>(i)], i);
        EXPECT_LT(copies.size(), static_cast<size_t>(kCopies) / 2);
        EXPECT_TRUE(std::is_sorted(copies.begin(), copies.end()));
    }
}

TEST_F(ClientManagerTest, DatagramsGoToEveryRemoteHostAndComeInThroughTheHardenedReader) {
    auto remote = connect();
    const uint8_t levels[3] = {1, 2, 3};
    host_->sendLevels(levels, 3);
    host_->sendUDPDictionaryToEveryone(message("RfLevelData"));
    ASSERT_EQ(datagrams_.size(), 2u);
    EXPECT_EQ(datagrams_[0].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(datagrams_[0].host, "127.0.0.1");
    EXPECT_EQ(datagrams_[0].port, ClientManager::kStreamPort);
    EXPECT_EQ(datagrams_[0].tag, ClientManager::kLevelsTag);
    EXPECT_EQ(datagrams_[1].tag, ClientManager::kDictionaryDatagramTag);

    ASSERT_NE(udpDelegate_, nullptr);
    Bytes damaged = datagrams_[1].data;
    damaged.resize(damaged.size() / 2);
    udpDelegate_->udpEndpointDidReceive(udp_, damaged, "127.0.0.3");
    udpDelegate_->udpEndpointDidReceive(udp_, Bytes{}, "127.0.0.3");
    udpDelegate_->udpEndpointDidReceive(udp_, datagrams_[1].data, "127.0.0.3");
    ASSERT_EQ(events_.udp.size(), 1u);
    EXPECT_EQ(events_.udp[0]["Command"], Value("RfLevelData"));
}

TEST(ClientManagerAddressTest, TheFirstNonLoopbackInterfaceStandsForTheMainOne) {
    ClientManager::Services services;
    std::optional<std::vector<NetworkInterface>> list =
        std::vector<NetworkInterface>{{"lo", "127.0.0.1", "255.0.0.0"},
                                      {"eth1", "127.0.0.2", "255.255.255.0"},
                                      {"eth1", "127.0.0.3", "255.255.255.0"},
                                      {"eth2", "127.0.0.4", "255.255.255.0"}};
    services.interfaces = [&] { return list; };
    ClientManager host(services);
    // 127.0.0.2/3 are loopback addresses: the first interface with another one is eth...none.
    EXPECT_EQ(host.getIPAddress(), "error");
    (*list)[1].address = "10.1.2.3";
    (*list)[2].address = "10.1.2.4";
    EXPECT_EQ(host.getIPAddress(), "10.1.2.4");
    EXPECT_EQ(host.getIPWithNSHost(), "10.1.2.3");
    list.reset();
    EXPECT_EQ(host.getIPAddress(), "error");
    EXPECT_EQ(host.getIPWithNSHost(), "Unknown");
}

TEST(ClientManagerAddressTest, AnUnreadableInterfaceListIsLoggedWithItsError) {
    ClientManager::Services services;
    services.interfaces = []() -> std::optional<std::vector<NetworkInterface>> {
        errno = EMFILE;
        return std::nullopt;
    };
    ClientManager host(services);
    ::testing::internal::CaptureStderr();
    host.getNetworkData();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("getifaddrs() failed with errno =  " + std::to_string(EMFILE) + " " +
                       std::strerror(EMFILE)),
              std::string::npos)
        << log;
}

}  // namespace
}  // namespace quenbril
