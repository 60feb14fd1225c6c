#include <gtest/gtest.h>

#include "serialport/SerialPacketRouter.h"
#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

/// A host whose writes succeed or fail on demand and which records every outcome.
struct RecordingHost : SerialPacketRouter::Host {
    bool writesFail = false;
    std::vector<Bytes> written;
    std::vector<SerialRequest::Ptr> timedOut;
    std::vector<SerialRequest::Ptr> answered;
    int timers = 0;

    bool writeRequest(const SerialRequest& request) override {
        if (writesFail) return false;
        written.push_back(request.dataToSend());
        return true;
    }
    void startTimeout(const SerialRequest::Ptr&) override { ++timers; }
    void stopTimeout() override {}
    void packetReceived(Bytes, SerialPacketDescriptor::Ptr) override {}
    void responseReceived(Bytes, SerialRequest::Ptr request) override {
        answered.push_back(request);
    }
    void requestTimedOut(SerialRequest::Ptr request) override { timedOut.push_back(request); }
    void propertyChanged(const char*) override {}
};

SerialRequest::Ptr ask(const std::string& text, double timeout) {
    return SerialRequest::requestWithDataToSend(
        bytesOf(text), Value(), timeout,
        SerialPacketDescriptor::withPrefixString(text.substr(0, 1), ".", 16, Value()));
}

TEST(SerialPacketRouterTest, ATimeOutGivenThePendingRequestItselfStillNamesIt) {
    RecordingHost host;
    SerialPacketRouter router(host);
    auto first = ask("A", 1.0);
    auto second = ask("B", 0);
    router.sendRequest(first);
    router.sendRequest(second);
    EXPECT_EQ(host.timers, 1);
    // The reference aliases the router's own pending slot, which the time-out clears.
    router.timeoutFired(router.pendingRequest());
    EXPECT_EQ(host.timedOut, std::vector<SerialRequest::Ptr>{first});
    EXPECT_EQ(router.pendingRequest(), second);
    EXPECT_EQ(host.written, (std::vector<Bytes>{bytesOf("A"), bytesOf("B")}));

    router.receive(bytesOf("A1."));  // late, and not the pending request's answer
    EXPECT_TRUE(host.answered.empty());
    router.timeoutFired(first);  // a stale fire
    EXPECT_EQ(host.timedOut.size(), 1u);
    router.receive(bytesOf("B2."));
    EXPECT_EQ(host.answered, std::vector<SerialRequest::Ptr>{second});
}

TEST(SerialPacketRouterTest, AFailedWriteMovesOnToTheNextWaitingRequest) {
    RecordingHost host;
    SerialPacketRouter router(host);
    auto first = ask("A", 0);
    auto broken = ask("B", 0);
    auto third = ask("C", 0);
    router.sendRequest(first);
    router.sendRequest(broken);
    router.sendRequest(third);
    host.writesFail = true;
    router.receive(bytesOf("A."));  // answers the first; sending the second fails
    EXPECT_EQ(router.pendingRequest(), nullptr);
    EXPECT_TRUE(router.queuedRequests().empty()) << "the third was tried in turn";
    host.writesFail = false;
    EXPECT_TRUE(router.sendRequest(ask("D", 0)));
    EXPECT_EQ(host.written.back(), bytesOf("D"));
}

TEST(SerialPacketRouterTest, ATimedRequestThatCannotBeWrittenEndsWithItsTimeOutOnce) {
    // Its caller no longer hears of the write: the time-out is the one outcome it waits for.
    RecordingHost host;
    SerialPacketRouter router(host);
    auto first = ask("A", 0);
    auto timed = ask("B", 2.0);
    auto untimed = ask("C", 0);
    auto last = ask("D", 2.0);
    router.sendRequest(first);
    router.sendRequest(timed);
    router.sendRequest(untimed);
    router.sendRequest(last);
    host.writesFail = true;
    router.receive(bytesOf("A."));
    EXPECT_EQ(host.timedOut, (std::vector<SerialRequest::Ptr>{timed, last}));
    EXPECT_EQ(router.pendingRequest(), nullptr);
    EXPECT_FALSE(router.sendRequest(ask("E", 1.0)));
    EXPECT_EQ(host.timedOut.size(), 3u);

    host.writesFail = false;
    router.timeoutFired(timed);  // a fire of a timer already stopped
    EXPECT_EQ(host.timedOut.size(), 3u);
    EXPECT_EQ(host.answered, std::vector<SerialRequest::Ptr>{first});
}

}  // namespace
}  // namespace quenbril::test
