// An open whose first client found its wake-up slot holding a departed client's object closes it
// and opens again, under the same name and, from the server, the same number. The clients of ours
// that are active read that first client's arrival and its departure as well as the second's
// arrival: the departure unmaps the number's slot, which the second client uses by then. The
// second client may start only once every client of ours has read all three.
//
// The binary puts itself between the project's code and two of libjack's calls, to count the
// opens and to hold a client's notification thread right after a given piece of news.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/jack/JackArrivalGate.h"
#include "platform/jack/JackClients.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackNewsHold.h"
#include "tests/support/JackServer.h"

namespace {

quenbril::test::NewsHold hold;
std::atomic<jack_client_t*> watched{nullptr};
JackClientRegistrationCallback gateCallback = nullptr;
std::atomic<int> opensOfF{0};

void passThenHold(const char* name, int arrived, void* arg) {
    gateCallback(name, arrived, arg);
    quenbril::test::NewsHold::onClient(name, arrived, &hold);
}

}  // namespace

extern "C" int jack_set_client_registration_callback(jack_client_t* client,
                                                     JackClientRegistrationCallback callback,
                                                     void* arg) {
    using Real = int (*)(jack_client_t*, JackClientRegistrationCallback, void*);
    static Real real =
        reinterpret_cast<Real>(dlsym(RTLD_NEXT, "jack_set_client_registration_callback"));
    if (client == watched.load() && callback) {
        gateCallback = callback;
        return real(client, &passThenHold, arg);
    }
    return real(client, callback, arg);
}

extern "C" jack_client_t* jack_client_open(const char* name, jack_options_t options,
                                           jack_status_t* status, ...) {
    using Real = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "jack_client_open"));
    if (std::strcmp(name, "quenbril-f") == 0) opensOfF.fetch_add(1);
    // Only the project's own opens come here; the test main names its server by the environment.
    return real(name, static_cast<jack_options_t>(options & ~JackServerName), status);
}

namespace quenbril {
namespace {

using test::countCycle;
using test::eventually;

TEST(JackReopenNews, AClientOpenedAgainStartsOnlyOnceOurClientsReadTheFirstOnesDeparture) {
    QUENBRIL_REQUIRE_JACK();
    jack_status_t status{};
    // An active client of ours that reads its news late, as on a loaded machine.
    jack_client_t* slow = JackClients::open("quenbril-slow", &status);
    ASSERT_NE(slow, nullptr);
    watched.store(slow);
    {
        auto held = JackClients::inUse();
        ASSERT_EQ(JackClients::activate(slow), 0);
    }
    // Another program's client comes and goes while ours has not read the departure: its
    // number's slot keeps the departed client's object.
    hold.armFor("wait", true);
    ASSERT_EQ(test::runCommand("jack_wait -c >/dev/null 2>&1").status, 0);
    ASSERT_TRUE(eventually([&] { return hold.isHolding(); }));

    jack_client_t* f = JackClients::open("quenbril-f", &status);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(opensOfF.load(), 2) << "the first open found its own slot: nothing to show here";
    std::atomic<int> cycles{0};
    jack_set_process_callback(f, &countCycle, &cycles);

    // The slow client reads on up to the first client's departure, which unmaps the number's
    // slot, now the second client's; it holds there, the second client's arrival unread.
    hold.armFor("quenbril-f", false);
    hold.release();
    ASSERT_TRUE(eventually([&] { return hold.isHolding(); }));

    std::atomic<bool> activated{false};
    std::thread starter([&] {
        auto held = JackClients::inUse();
        activated.store(JackClients::activate(f) == 0);
    });
    // The gate waits for the slow client; one that let the start through before has it either
    // done or stuck on the server, which waits for the held client.
    EXPECT_TRUE(
        eventually([&] { return activated.load() || JackArrivalGate::waitingForTesting() > 0; },
                   test::scaledSeconds(5)));
    EXPECT_FALSE(activated.load())
        << "the second client started while a client of ours had its own arrival unread and the "
           "slot of its number unmapped";
    EXPECT_GT(JackArrivalGate::waitingForTesting(), 0);
    // Once the slow client has read its arrival, the second client starts, with its slot mapped
    // again, and plays (one started before it never did).
    hold.release();
    starter.join();
    EXPECT_TRUE(activated.load());
    EXPECT_TRUE(eventually([&] { return cycles.load() > 10; }));

    auto held = JackClients::inUse();
    JackClients::close(f);
    JackClients::close(slow);
}

}  // namespace
}  // namespace quenbril
