// The peer link between two stations of ours in one process, over loopback: invitations,
// messages both ways, the "Striimi" stream and the frames that end a session.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/serverrole/peer/MCManager.h"
#include "MonitorApp/serverrole/peer/PeerAdvertiser.h"
#include "MonitorApp/serverrole/peer/PeerBrowser.h"
#include "MonitorApp/serverrole/peer/PeerFrame.h"
#include "MonitorApp/serverrole/peer/PeerProgress.h"
#include "MonitorApp/serverrole/peer/PeerSession.h"
#include "foundation/ManualRunLoop.h"
#include "platform/discovery/ServicePublisher.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::WireClient;

struct Publisher : ServicePublisher {
    explicit Publisher(std::map<std::string, uint16_t>* published) : published(published) {}
    bool publish(const std::string& name, const std::string& type, uint16_t port) override {
        (*published)[name + " " + type] = port;
        key = name + " " + type;
        return true;
    }
    void setTXTRecord(const std::map<std::string, std::string>&) override {}
    void unpublish() override { published->erase(key); }
    std::map<std::string, uint16_t>* published;
    std::string key;
};

struct Messages : MCManagerDelegate {
    void messageReceived(const std::optional<std::string>& text) override { texts.push_back(text); }
    std::vector<std::optional<std::string>> texts;
};

const PeerID* peerOf(const Dictionary& userInfo) {
    const auto* object = userInfo["peerID"].objectValue();
    return object ? dynamic_cast<const PeerID*>(object->get()) : nullptr;
}

class PeerLinkTest : public testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop_);
        alpha_ = make("Alpha", &alphaMessages_);
        alpha_->advertiseSelf(true);
        beta_ = make("Beta", &betaMessages_);
        beta_->setStreamBytesHandler(
            [this](const std::string& name, const PeerIDPtr& peer, const Bytes& bytes) {
                streamName_ = name;
                streamFrom_ = peer ? peer->displayName() : "";
                streamBytes_.insert(streamBytes_.end(), bytes.begin(), bytes.end());
            });
        // Every state change of the invitation has been posted before a test starts.
        NotificationRecorder states(MCManager::kDidChangeStateNotification);
        Error error;
        ASSERT_TRUE(beta_->session()->invite("127.0.0.1", port(*alpha_), &error));
        ASSERT_TRUE(wait([&] { return states.posted.size() == 3; }));
        ASSERT_EQ(connected(*alpha_), 1u);
        ASSERT_EQ(connected(*beta_), 1u);
    }
    void TearDown() override {
        beta_.reset();
        alpha_.reset();
        loop_.runPending();
        RunLoop::setMain(nullptr);
    }

    std::unique_ptr<MCManager> make(const std::string& name, Messages* messages) {
        MCManager::Services services;
        services.interface = "127.0.0.1";
        services.notifications = &NotificationCenter::defaultCenter();
        services.publisher = [this] { return std::make_unique<Publisher>(&published_); };
        auto manager = std::make_unique<MCManager>(std::move(services));
        manager->setupPeerAndSessionWithDisplayName(name);
        manager->setupMCBrowser();
        manager->setDelegate(messages);
        return manager;
    }
    static uint16_t port(const MCManager& m) { return m.session()->listeningPort(); }
    static size_t connected(const MCManager& m) { return m.session()->connectedPeers().size(); }
    bool wait(const std::function<bool()>& done) { return loop_.runUntil(done, 5.0); }
    // The main queue runs everything already sent there, for a check that nothing came.
    void settle() {
        for (int i = 0; i < 20; ++i) loop_.runFor(0.01);
    }
    bool startStream() {
        beta_->sendMessage("StartStream");
        return wait([&] { return alpha_->outStream() && alpha_->allWritter(); });
    }

    ManualRunLoop loop_;
    std::map<std::string, uint16_t> published_;
    Messages alphaMessages_, betaMessages_;
    std::unique_ptr<MCManager> alpha_, beta_;
    std::string streamName_, streamFrom_;
    Bytes streamBytes_;
};

TEST_F(PeerLinkTest, AnAdvertisedStationAcceptsAnInvitationAndMessagesGoBothWays) {
    EXPECT_EQ(published_.at("Alpha _xx-service._tcp."), port(*alpha_));
    EXPECT_NE(alpha_->browser(), nullptr);
    EXPECT_FALSE(alpha_->browser()->isBrowsing());
    EXPECT_EQ(alpha_->outBuffer().size() * sizeof(float), 176400u);

    NotificationRecorder data(MCManager::kDidReceiveDataNotification);
    alpha_->sendMessage("hello Beta");
    ASSERT_TRUE(wait([&] { return betaMessages_.texts.size() == 1; }));
    EXPECT_EQ(betaMessages_.texts[0], "hello Beta");
    beta_->sendMessage("hello Alpha");
    ASSERT_TRUE(wait([&] { return alphaMessages_.texts.size() == 1; }));
    EXPECT_EQ(alphaMessages_.texts[0], "hello Alpha");

    ASSERT_EQ(data.posted.size(), 2u);
    EXPECT_EQ(data.posted[1]["data"],
              Value(Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'A', 'l', 'p', 'h', 'a'}));
    ASSERT_NE(peerOf(data.posted[1]), nullptr);
    EXPECT_TRUE(peerOf(data.posted[1])->isEqual(*beta_->peerID()));
    EXPECT_TRUE(peerOf(data.posted[0])->isEqual(*alpha_->peerID()));

    // Withdrawn, the station refuses the next invitation.
    alpha_->advertiseSelf(false);
    EXPECT_EQ(published_.count("Alpha _xx-service._tcp."), 0u);
    NotificationRecorder states(MCManager::kDidChangeStateNotification);
    auto gamma = make("Gamma", nullptr);
    Error error;
    ASSERT_TRUE(gamma->session()->invite("127.0.0.1", port(*alpha_), &error));
    // Alpha hears Gamma's greeting and drops it unanswered: Gamma can no longer connect.
    ASSERT_TRUE(wait([&] {
        return !states.posted.empty() && peerOf(states.posted.back()) &&
               peerOf(states.posted.back())->displayName() == "Gamma" &&
               states.posted.back()["state"] == Value(0);
    }));
    EXPECT_EQ(connected(*gamma), 0u);
    EXPECT_EQ(connected(*alpha_), 1u);
}

TEST_F(PeerLinkTest, StateChangesCarryThePeerAndTheState) {
    NotificationRecorder states(MCManager::kDidChangeStateNotification);
    auto gamma = make("Gamma", nullptr);
    Error error;
    ASSERT_TRUE(gamma->session()->invite("127.0.0.1", port(*alpha_), &error));
    ASSERT_TRUE(wait([&] { return states.posted.size() == 3; }));
    EXPECT_EQ(connected(*alpha_), 2u);
    EXPECT_EQ(connected(*gamma), 1u);
    gamma.reset();
    ASSERT_TRUE(wait([&] { return states.posted.size() == 4; }));
    EXPECT_EQ(connected(*alpha_), 1u);
    settle();

    std::map<std::string, std::vector<int64_t>> seen;
    for (const Dictionary& info : states.posted) {
        ASSERT_NE(peerOf(info), nullptr);
        seen[peerOf(info)->displayName()].push_back(*info["state"].longLongValue());
    }
    // Alpha sees Gamma connecting, connected and gone; Gamma sees Alpha connected (and not
    // its own end: a manager that is gone posts nothing).
    EXPECT_EQ(seen,
              (std::map<std::string, std::vector<int64_t>>{{"Gamma", {1, 2, 0}}, {"Alpha", {2}}}));
}

TEST_F(PeerLinkTest, StartStreamOpensStriimiToTheAskingPeerAndStopStreamClosesIt) {
    ASSERT_TRUE(startStream());
    EXPECT_EQ(alpha_->outStream()->name(), "Striimi");
    ASSERT_TRUE(wait([&] { return beta_->session()->incomingStreamCount() == 1; }));

    Bytes audio(100000);
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<uint8_t>(i * 7);
    alpha_->sendDataStream(audio.data(), audio.size());
    ASSERT_TRUE(wait([&] { return streamBytes_.size() == audio.size(); }));
    EXPECT_EQ(streamBytes_, audio);
    EXPECT_EQ(streamName_, "Striimi");
    EXPECT_EQ(streamFrom_, "Alpha");

    beta_->sendMessage("StopStream");
    ASSERT_TRUE(wait([&] { return alpha_->outStream() == nullptr; }));
    ASSERT_TRUE(wait([&] { return beta_->session()->incomingStreamCount() == 0; }));
    // With no stream, stream data goes nowhere.
    alpha_->sendDataStream(audio.data(), 10);
    EXPECT_EQ(betaMessages_.texts.size(), 0u);
}

TEST_F(PeerLinkTest, ASecondStartStreamReplacesTheStreamAndTheFirstCloses) {
    ASSERT_TRUE(startStream());
    ASSERT_TRUE(wait([&] { return beta_->session()->incomingStreamCount() == 1; }));
    const std::shared_ptr<PeerOutputStream> first = alpha_->outStream();
    beta_->sendMessage("StartStream");
    ASSERT_TRUE(wait([&] { return alpha_->outStream() != first && alpha_->outStream(); }));
    EXPECT_FALSE(first->isOpen());
    ASSERT_TRUE(wait([&] { return alpha_->outStream()->isOpen(); }));
    settle();
    EXPECT_EQ(beta_->session()->incomingStreamCount(), 1u);
}

TEST_F(PeerLinkTest, AnInvitationWhileStreamingClosesTheStream) {
    ASSERT_TRUE(startStream());
    auto gamma = make("Gamma", nullptr);
    Error error;
    ASSERT_TRUE(gamma->session()->invite("127.0.0.1", port(*alpha_), &error));
    ASSERT_TRUE(wait([&] { return connected(*gamma) == 1; }));
    EXPECT_EQ(alpha_->outStream(), nullptr);
    ASSERT_TRUE(wait([&] { return beta_->session()->incomingStreamCount() == 0; }));
}

TEST_F(PeerLinkTest, NoPeersMeansNothingSentAndInvalidUtf8GivesNoText) {
    NotificationRecorder data(MCManager::kDidReceiveDataNotification);
    auto lonely = make("Lonely", nullptr);
    lonely->sendMessage("anyone?");
    MCManager bare(MCManager::Services{});
    bare.sendMessage("anyone?");
    bare.sendDataStream(reinterpret_cast<const uint8_t*>("x"), 1);
    settle();
    EXPECT_TRUE(data.posted.empty());

    // "StartStream" with a byte that is no UTF-8: no text, no stream, the raw bytes posted.
    Bytes bad{'S', 't', 'a', 'r', 't', 'S', 't', 'r', 'e', 'a', 'm', 0xff};
    Error error;
    ASSERT_TRUE(beta_->session()->sendData(bad, beta_->session()->connectedPeers(), &error));
    ASSERT_TRUE(wait([&] { return alphaMessages_.texts.size() == 1; }));
    EXPECT_EQ(alphaMessages_.texts[0], std::nullopt);
    EXPECT_EQ(alpha_->outStream(), nullptr);
    ASSERT_EQ(data.posted.size(), 1u);
    EXPECT_EQ(data.posted[0]["data"], Value(bad));

    // A message over 64 KiB is not sent.
    EXPECT_FALSE(beta_->session()->sendData(Bytes(PeerFrame::kMaxPayload + 1),
                                            beta_->session()->connectedPeers(), &error));
}

// A station of ours as a plain socket: greets, then sends what the test gives it.
class RawPeerTest : public PeerLinkTest {
  protected:
    std::unique_ptr<WireClient> greet(uint64_t identifier) {
        auto client = std::make_unique<WireClient>(port(*alpha_));
        EXPECT_TRUE(client->connected());
        client->sendRaw(PeerFrame::greeting({0, identifier, "Raw"}));
        EXPECT_TRUE(wait([&] { return connected(*alpha_) == 2; }));
        return client;
    }
    /// The state changes to "not connected" posted so far.
    static size_t drops(const NotificationRecorder& states) {
        return static_cast<size_t>(
            std::count_if(states.posted.begin(), states.posted.end(),
                          [](const Dictionary& info) { return info["state"] == Value(0); }));
    }
    static Bytes header(uint8_t kind, uint32_t length) {
        Bytes frame = PeerFrame::encode(static_cast<PeerFrame::Kind>(kind), nullptr, 0);
        for (int i = 0; i < 4; ++i) frame[1 + i] = static_cast<uint8_t>(length >> (8 * i));
        return frame;
    }
};

TEST_F(RawPeerTest, AnOversizedOrUnknownFrameClosesThatSessionOnly) {
    NotificationRecorder states(MCManager::kDidChangeStateNotification);
    auto big = greet(1);
    big->sendRaw(header(PeerFrame::kMessage, PeerFrame::kMaxPayload + 1));
    ASSERT_TRUE(wait([&] { return connected(*alpha_) == 1; }));
    EXPECT_TRUE(big->waitForClose(test::scaledSeconds(3.0)));

    auto odd = greet(2);
    Bytes frame = header(9, 3);
    frame.insert(frame.end(), {'a', 'b', 'c'});
    odd->sendRaw(frame);
    ASSERT_TRUE(wait([&] { return connected(*alpha_) == 1; }));
    EXPECT_TRUE(odd->waitForClose(test::scaledSeconds(3.0)));
    // Each drop is told from the main queue.
    EXPECT_TRUE(wait([&] { return drops(states) == 2; }));
    EXPECT_TRUE(alphaMessages_.texts.empty());

    // A frame of exactly 64 KiB is a message.
    auto full = greet(3);
    Bytes message = header(PeerFrame::kMessage, PeerFrame::kMaxPayload);
    message.resize(message.size() + PeerFrame::kMaxPayload, 'x');
    full->sendRaw(message);
    ASSERT_TRUE(wait([&] { return alphaMessages_.texts.size() == 1; }));
    EXPECT_EQ(alphaMessages_.texts[0]->size(), PeerFrame::kMaxPayload);
}

TEST_F(RawPeerTest, AConnectionThatNeverGreetsIsClosedAfterTheGreetingTimeout) {
    auto silent = std::make_unique<WireClient>(port(*alpha_));
    ASSERT_TRUE(wait([&] { return alpha_->session()->unannouncedConnectionCount() == 1; }));
    loop_.advance(PeerSession::kGreetingTimeout - 0.5);
    EXPECT_EQ(alpha_->session()->unannouncedConnectionCount(), 1u);
    // A station that greeted in time stays.
    auto late = greet(5);
    loop_.advance(1.0);
    EXPECT_EQ(alpha_->session()->unannouncedConnectionCount(), 0u);
    EXPECT_TRUE(silent->waitForClose(test::scaledSeconds(3.0)));
    EXPECT_EQ(connected(*alpha_), 2u);
}

TEST_F(RawPeerTest, APeerVanishingMidFrameIsAStateChange) {
    NotificationRecorder states(MCManager::kDidChangeStateNotification);
    auto client = greet(7);
    Bytes partial = header(PeerFrame::kMessage, 100);
    partial.insert(partial.end(), 10, 'x');
    client->sendRaw(partial);
    client.reset();
    ASSERT_TRUE(wait([&] { return connected(*alpha_) == 1; }));
    ASSERT_TRUE(wait([&] { return drops(states) == 1; }));
    EXPECT_EQ(peerOf(states.posted.back())->displayName(), "Raw");
    EXPECT_EQ(states.posted.back()["state"], Value(0));
    EXPECT_TRUE(alphaMessages_.texts.empty());
    // The link goes on.
    beta_->sendMessage("still here");
    ASSERT_TRUE(wait([&] { return alphaMessages_.texts.size() == 1; }));
}

TEST_F(PeerLinkTest, ResourceNotificationsCarryTheirUserInfo) {
    NotificationRecorder started(MCManager::kDidStartReceivingResourceNotification);
    NotificationRecorder progressed(MCManager::kReceivingProgressNotification);
    NotificationRecorder finished(MCManager::kDidFinishReceivingResourceNotification);
    auto progress = std::make_shared<PeerProgress>();
    alpha_->didStartReceivingResource("take.wav", beta_->peerID(), progress);
    ASSERT_EQ(started.posted.size(), 1u);
    EXPECT_EQ(started.posted[0]["resourceName"], Value("take.wav"));
    EXPECT_TRUE(peerOf(started.posted[0])->isEqual(*beta_->peerID()));
    EXPECT_EQ(started.posted[0]["progress"].objectValue()->get(), progress.get());

    // A change on another thread is posted from the main queue.
    std::thread([&] { progress->setFractionCompleted(0.5); }).join();
    EXPECT_TRUE(progressed.posted.empty());
    ASSERT_TRUE(wait([&] { return progressed.posted.size() == 1; }));
    EXPECT_EQ(progressed.posted[0]["progress"].objectValue()->get(), progress.get());

    alpha_->didFinishReceivingResource("take.wav", beta_->peerID(), "/tmp/take.wav");
    ASSERT_EQ(finished.posted.size(), 1u);
    EXPECT_EQ(finished.posted[0]["localURL"], Value("/tmp/take.wav"));
}

}  // namespace
}  // namespace quenbril
