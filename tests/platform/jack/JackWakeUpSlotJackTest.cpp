// libjack's wake-up slots are one table per process, by client number. While no client of ours
// has read that another program's client left, its number's slot stays mapped to the departed
// client's wake-up object, and a client of ours that took the number kept that mapping: its
// process thread waited on an object no one signals, and it never played.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <string>

#include "platform/jack/JackClients.h"
#include "platform/jack/JackServerPresence.h"
#include "platform/jack/JackWakeUpSlot.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackNewsHold.h"
#include "tests/support/JackServer.h"

namespace quenbril {
namespace {

using test::countCycle;
using test::eventually;
using test::NewsHold;

TEST(JackWakeUpSlot, AClientTakingTheNumberOfAnotherProgramsDepartedClientStillRuns) {
    QUENBRIL_REQUIRE_JACK();
    jack_status_t status{};
    NewsHold hold;
    hold.arrival = "wait";
    jack_client_t* behind = JackClients::open("quenbril-behind", &status);
    ASSERT_NE(behind, nullptr);
    EXPECT_TRUE(JackWakeUpSlot::isOwn(behind));
    // Activated past the arrival gate, whose own registration callback would replace the hold.
    jack_set_client_registration_callback(behind, &NewsHold::onClient, &hold);
    ASSERT_EQ(jack_activate(behind), 0);

    // Another program's client comes and goes: "wait" opens, checks the server and closes.
    ASSERT_EQ(test::runCommand("jack_wait -c >/dev/null 2>&1").status, 0);
    ASSERT_TRUE(eventually([&] { return hold.isHolding(); }));

    jack_client_t* taking = nullptr;
    {
        auto opening = JackClients::opening();
        taking = JackServerPresence::open("quenbril-taking", &status);
    }
    ASSERT_NE(taking, nullptr);
    EXPECT_TRUE(JackWakeUpSlot::isOwn(taking));
    std::atomic<int> cycles{0};
    jack_set_process_callback(taking, &countCycle, &cycles);
    {
        auto held = JackClients::inUse();
        ASSERT_EQ(JackClients::activate(taking), 0);
    }
    EXPECT_TRUE(eventually([&] { return cycles.load() > 10; }))
        << "the client's process thread never ran: its slot was still the departed client's";

    auto held = JackClients::inUse();
    const std::string takingName = jack_get_client_name(taking);
    hold.armFor(takingName, false);
    JackClients::close(taking);
    // Read only now: the departure unmaps the number's slot, which was the taking client's.
    hold.release();
    // The arrival gate does not know the client that read late, so nothing of ours waits for it
    // to read the news let go: a close while it takes in a departure would cancel its thread
    // inside libjack's lock. It is closed once it has read the last of them.
    ASSERT_TRUE(eventually([&] { return hold.isHolding(); }));
    hold.release();
    JackClients::close(behind);
}

}  // namespace
}  // namespace quenbril
