// libjack frees every client of a server that went away when any client of the process next
// opens, and that may come before the client's own shutdown callback: the open marks it first.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>

#include <atomic>

#include "platform/jack/JackClients.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::JackServer;

TEST(JackClients, AClientOfAServerThatDiedIsMarkedGoneByTheNextOpen) {
    QUENBRIL_REQUIRE_JACK();
    jack_status_t status{};
    jack_client_t* before = JackClients::open("quenbril-old", &status);
    ASSERT_NE(before, nullptr);
    // No shutdown callback: only the open that comes next can tell this client of the death.
    std::atomic<bool> beforeGone{false};
    {
        auto held = JackClients::inUse();
        JackClients::track(before, beforeGone);
    }
    // A client of a live server stays whole through an open.
    jack_client_t* third = JackClients::open("quenbril-third", &status);
    ASSERT_NE(third, nullptr);
    EXPECT_FALSE(beforeGone.load());
    {
        auto held = JackClients::inUse();
        jack_client_close(third);
    }

    JackServer::shared().kill();
    // The restarted server's probe opens a client, in which libjack frees the old one.
    ASSERT_TRUE(JackServer::shared().start());
    EXPECT_TRUE(beforeGone.load());
    JackClients::forget(before);

    // The new server's clients are tracked as whole.
    jack_client_t* after = JackClients::open("quenbril-new", &status);
    ASSERT_NE(after, nullptr);
    std::atomic<bool> afterGone{false};
    {
        auto held = JackClients::inUse();
        JackClients::track(after, afterGone);
    }
    jack_client_t* another = JackClients::open("quenbril-another", &status);
    ASSERT_NE(another, nullptr);
    EXPECT_FALSE(afterGone.load());
    auto held = JackClients::inUse();
    JackClients::forget(after);
    jack_client_close(after);
    jack_client_close(another);
}

// The jack tests bound the closing of their clients: a close that waits on a server that no
// longer answers (held here with SIGSTOP) ends once the bound has passed, by the server's kill,
// and a server answers again afterwards.
TEST(JackServerBound, AStalledCloseEndsWithTheBoundAndTheServerComesBack) {
    QUENBRIL_REQUIRE_JACK();
    jack_status_t status{};
    jack_client_t* client = JackClients::open("quenbril-stalled", &status);
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(jack_activate(client), 0);
    ASSERT_TRUE(JackServer::shared().stopWithin(test::scaledSeconds(10.0)));
    const bool killed = JackServer::shared().closeWithin(1.0, [&] {
        auto held = JackClients::inUse();
        jack_client_close(client);
    });
    EXPECT_TRUE(killed);
    jack_client_t* after = JackClients::open("quenbril-after", &status);
    ASSERT_NE(after, nullptr);
    auto held = JackClients::inUse();
    jack_client_close(after);
}

}  // namespace
}  // namespace quenbril
