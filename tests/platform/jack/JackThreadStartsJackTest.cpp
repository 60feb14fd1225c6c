// libjack gives a thread it starts a thousand 1 ms sleeps to begin, and takes one that begins
// later for failed: it deleted what the thread was started for, which the thread read once it
// ran, and the process crashed. A loaded machine may begin a thread that late; here every
// thread libjack starts begins late on purpose.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/jack/JackClients.h"
#include "platform/jack/JackThreadStarts.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackNewsHold.h"
#include "tests/support/JackServer.h"

namespace quenbril {
namespace {

using test::countCycle;
using test::JackServer;

// Past libjack's wait even when its sleeps run long on a loaded machine.
constexpr auto kLate = std::chrono::seconds(3);

struct Late {
    void* (*routine)(void*);
    void* argument;
};

int beginLate(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
              void* argument) {
    auto late = std::make_unique<Late>(Late{routine, argument});
    const int error = pthread_create(
        thread, attributes,
        [](void* given) -> void* {
            const Late late = *static_cast<Late*>(given);
            delete static_cast<Late*>(given);
            std::this_thread::sleep_for(kLate);
            return late.routine(late.argument);
        },
        late.get());
    if (error == 0) late.release();
    return error;
}

TEST(JackThreadStarts, AClientWhoseThreadsBeginLateOpensPlaysAndCloses) {
    QUENBRIL_REQUIRE_JACK();
    JackThreadStarts::setMakerForTesting(&beginLate);
    jack_status_t status{};
    jack_client_t* client = JackClients::open("quenbril-late", &status);
    std::atomic<int> cycles{0};
    if (client) {
        auto held = JackClients::inUse();
        jack_set_process_callback(client, &countCycle, &cycles);
        EXPECT_EQ(jack_activate(client), 0);
    }
    JackThreadStarts::setMakerForTesting(nullptr);
    // A thread libjack gave up on would begin meanwhile.
    std::this_thread::sleep_for(kLate);
    ASSERT_NE(client, nullptr);
    EXPECT_TRUE(test::eventually([&] { return cycles.load() > 0; }));
    {
        auto held = JackClients::inUse();
        JackClients::close(client);
    }
}

}  // namespace
}  // namespace quenbril
