#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <stdexcept>

#include "foundation/CallbackGate.h"
#include "tests/support/Eventually.h"

namespace quenbril::test {
namespace {

struct Host {
    CallbackGate gate;
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    std::atomic<bool> left{false};
};

// A host thread that may be cancelled at once, as libjack's are when it stops a client.
void* hostThread(void* context) {
    pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
    auto* host = static_cast<Host*>(context);
    host->gate.pass([host] {
        host->inside = true;
        for (;;) {
            pthread_testcancel();
            if (host->release) break;
        }
        host->left = true;
    });
    for (;;) pthread_testcancel();
}

// Cancelled inside a call, the thread leaves the gate before it ends: close() then returns, where
// it would otherwise wait for ever for a thread that is gone.
TEST(CallbackGate, AHostThreadCancelledInsideACallLeavesItFirst) {
    Host host;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, &hostThread, &host), 0);
    ASSERT_TRUE(eventually([&] { return host.inside.load(); }));
    ASSERT_EQ(pthread_cancel(thread), 0);
    host.release = true;
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    ASSERT_TRUE(host.left) << "ended inside the call: close() would wait for ever";
    host.gate.close();
    EXPECT_FALSE(host.gate.pass([] {}));
}

// A call that throws leaves the gate as one that returns: close() returns, and the thread can
// be cancelled again.
TEST(CallbackGate, ACallThatThrowsLeavesTheGate) {
    CallbackGate gate;
    EXPECT_THROW(gate.pass([] { throw std::runtime_error("in the call"); }), std::runtime_error);
    int state = PTHREAD_CANCEL_DISABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &state);
    EXPECT_EQ(state, PTHREAD_CANCEL_ENABLE);
    gate.close();  // would spin for ever with the thread still counted inside
    EXPECT_FALSE(gate.pass([] {}));
}

}  // namespace
}  // namespace quenbril::test
