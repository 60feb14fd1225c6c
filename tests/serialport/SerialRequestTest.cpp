#include <gtest/gtest.h>

#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

/// A request for `question` whose response starts with `answerPrefix` and ends in a newline.
SerialRequest::Ptr ask(const std::string& question, const std::string& answerPrefix,
                       double timeout = 0) {
    return SerialRequest::requestWithDataToSend(
        bytesOf(question), Value(question), timeout,
        SerialPacketDescriptor::withPrefixString(answerPrefix, "\n", 32, Value()));
}

SerialRequest::Ptr tell(const std::string& text) {
    return SerialRequest::requestWithDataToSend(bytesOf(text), Value(), 0,
                                                SerialPacketDescriptor::Ptr{});
}

class SerialRequestTest : public SerialFixture {
  protected:
    void SetUp() override {
        SerialFixture::SetUp();
        if (IsSkipped()) return;
        pair_ = makePair();
        port_ = openPort(*pair_, recorder_);
        ASSERT_TRUE(port_);
    }
    void TearDown() override {
        if (port_) port_->close();
        port_.reset();
        pair_.reset();
        SerialFixture::TearDown();
    }

    std::unique_ptr<SocatPair> pair_;
    PortRecorder recorder_;
    SerialPort::Ptr port_;
};

TEST_F(SerialRequestTest, OneRequestAtATimeEachEndedByItsResponse) {
    auto first = ask("A?", "A");
    auto second = ask("B?", "B");
    EXPECT_TRUE(port_->sendRequest(first));
    EXPECT_TRUE(port_->sendRequest(second));
    EXPECT_EQ(pair_->read(2), bytesOf("A?"));
    EXPECT_TRUE(pair_->read(1, 0.1).empty()) << "the second waits for the first's response";
    EXPECT_EQ(port_->pendingRequest(), first);
    EXPECT_EQ(port_->queuedRequests(), std::vector<SerialRequest::Ptr>{second});

    pair_->write(bytesOf("noise A1\n"));
    EXPECT_EQ(pair_->read(2), bytesOf("B?"));
    pair_->write(bytesOf("B2\n"));
    ASSERT_TRUE(waitFor([&] { return recorder_.responses.size() == 2; }));
    EXPECT_EQ(recorder_.responses[0], std::make_pair(bytesOf("A1\n"), first));
    EXPECT_EQ(recorder_.responses[1], std::make_pair(bytesOf("B2\n"), second));
    EXPECT_FALSE(port_->pendingRequest());
    EXPECT_TRUE(recorder_.timeouts.empty());
    EXPECT_FALSE(recorder_.offMainThread);
}

TEST_F(SerialRequestTest, WithoutADescriptorARequestEndsOnceWritten) {
    EXPECT_TRUE(port_->sendRequest(tell("one")));
    EXPECT_TRUE(port_->sendRequest(tell("two")));
    EXPECT_FALSE(port_->pendingRequest());
    EXPECT_EQ(pair_->read(6), bytesOf("onetwo"));
    ASSERT_TRUE(drainMain());
    EXPECT_TRUE(recorder_.responses.empty());
}

TEST_F(SerialRequestTest, ATimeOutEndsTheRequestAtOnceSoALateResponseChangesNothing) {
    auto slow = ask("A?", "A", 0.2);
    auto next = ask("B?", "B");
    EXPECT_TRUE(port_->sendRequest(slow));
    EXPECT_TRUE(port_->sendRequest(next));
    EXPECT_EQ(pair_->read(2), bytesOf("A?"));
    // Without serving the main loop: the time-out must hand over to the next request on the
    // request queue itself, before the delegate has heard of it.
    EXPECT_EQ(pair_->read(2, 5.0), bytesOf("B?"));
    EXPECT_EQ(port_->pendingRequest(), next);

    pair_->write(bytesOf("A1\n"));  // the late response
    pair_->write(bytesOf("B2\n"));
    ASSERT_TRUE(
        waitFor([&] { return !recorder_.timeouts.empty() && !recorder_.responses.empty(); }));
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(recorder_.timeouts, std::vector<SerialRequest::Ptr>{slow});
    ASSERT_EQ(recorder_.responses.size(), 1u);
    EXPECT_EQ(recorder_.responses[0], std::make_pair(bytesOf("B2\n"), next));
}

TEST_F(SerialRequestTest, CancellingRemovesOnlyWaitingRequests) {
    auto pending = ask("A?", "A");
    auto second = ask("B?", "B");
    auto third = ask("C?", "C");
    port_->sendRequest(pending);
    port_->sendRequest(second);
    port_->sendRequest(third);
    port_->cancelQueuedRequest(pending);
    port_->cancelQueuedRequest(nullptr);
    EXPECT_EQ(port_->queuedRequests(), (std::vector<SerialRequest::Ptr>{second, third}));
    EXPECT_EQ(port_->pendingRequest(), pending);
    port_->cancelQueuedRequest(second);
    EXPECT_EQ(port_->queuedRequests(), std::vector<SerialRequest::Ptr>{third});
    port_->cancelAllQueuedRequests();
    EXPECT_TRUE(port_->queuedRequests().empty());
    EXPECT_EQ(port_->pendingRequest(), pending);
    EXPECT_EQ(pair_->read(2), bytesOf("A?"));

    port_->insertObjectInRequestsQueueAtIndex(second, 5);
    port_->insertObjectInRequestsQueueAtIndex(third, 0);
    EXPECT_EQ(port_->queuedRequests(), (std::vector<SerialRequest::Ptr>{third, second}));
    port_->removeObjectFromRequestsQueueAtIndex(0);
    EXPECT_EQ(port_->queuedRequests(), std::vector<SerialRequest::Ptr>{second});

    int changes = 0;
    port_->addObserver([&](const std::string& property) {
        if (property == "queuedRequests") ++changes;
    });
    port_->close();
    EXPECT_FALSE(port_->pendingRequest()) << "a close drops the pending request";
    EXPECT_TRUE(port_->queuedRequests().empty());
    EXPECT_TRUE(waitFor([&] { return changes > 0; }));
}

TEST_F(SerialRequestTest, AFailedWriteDropsTheRequestAndTheQueueMovesOn) {
    port_->close();
    auto first = ask("A?", "A", 5.0);
    auto second = ask("B?", "B");
    EXPECT_FALSE(port_->sendRequest(first));
    EXPECT_FALSE(port_->pendingRequest()) << "a request never sent is not left pending";
    EXPECT_FALSE(port_->sendRequest(second)) << "and does not hold the next one back";
    EXPECT_TRUE(port_->queuedRequests().empty());
}

}  // namespace
}  // namespace quenbril::test
