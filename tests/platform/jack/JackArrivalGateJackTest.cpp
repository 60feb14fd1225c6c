// A client's departure unmaps its number's wake-up slot in the process's one table when each
// client of ours reads the news; a client of ours that reads it late, after a new client of ours
// took the number, unmapped the slot under the new client's process thread.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <thread>

#include "platform/jack/JackArrivalGate.h"
#include "platform/jack/JackClients.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackNewsHold.h"
#include "tests/support/JackServer.h"

namespace quenbril {
namespace {

using test::countCycle;
using test::eventually;
using test::NewsHold;

TEST(JackArrivalGate, AClientTakingAClosedOnesNumberStartsOnlyOnceOurClientsReadTheDeparture) {
    QUENBRIL_REQUIRE_JACK();
    jack_status_t status{};
    NewsHold hold;
    jack_client_t* late = JackClients::open("quenbril-late", &status);
    ASSERT_NE(late, nullptr);
    jack_set_port_registration_callback(late, &NewsHold::onPort, &hold);
    ASSERT_EQ(JackClients::activate(late), 0);

    jack_client_t* closing = JackClients::open("quenbril-closing", &status);
    ASSERT_NE(closing, nullptr);
    hold.arm();
    // An active client's ports are news to the others.
    ASSERT_NE(jack_port_register(closing, "x", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0),
              nullptr);
    ASSERT_EQ(JackClients::activate(closing), 0);
    ASSERT_TRUE(eventually([&] { return hold.isHolding(); }));
    {
        auto held = JackClients::inUse();
        JackClients::close(closing);
    }

    // The server gives the closed client's number to the next open.
    jack_client_t* reusing = JackClients::open("quenbril-reusing", &status);
    ASSERT_NE(reusing, nullptr);
    std::atomic<int> cycles{0};
    jack_set_process_callback(reusing, &countCycle, &cycles);
    std::atomic<bool> activated{false};
    std::thread starter([&] {
        auto held = JackClients::inUse();
        activated.store(JackClients::activate(reusing) == 0);
    });
    ASSERT_TRUE(
        eventually([&] { return activated.load() || JackArrivalGate::waitingForTesting() > 0; }));
    EXPECT_FALSE(activated.load())
        << "the new client's process thread ran while a client of ours had the departure of its "
           "number unread";

    hold.release();
    starter.join();
    EXPECT_TRUE(activated.load());
    // The process thread still has its slot once the late client has read everything.
    const int before = cycles.load();
    EXPECT_TRUE(eventually([&] { return cycles.load() > before + 10; }));

    auto held = JackClients::inUse();
    JackClients::close(reusing);
    JackClients::close(late);
}

}  // namespace
}  // namespace quenbril
