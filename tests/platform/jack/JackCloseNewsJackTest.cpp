// libjack takes in each client's arrival and departure on every client's notification thread,
// under one lock of the whole process (held around the mapping of that client's wake-up object),
// and a close cancels the closing client's thread at once, wherever it is: cancelled in there,
// the thread leaves the lock taken, and the close waits on it for ever. A client of ours closes
// only once it has read the departures of our clients that closed before it.
//
// A verbose server has libjack say where each notification thread is, through the info function,
// on that thread: the test holds the thread there.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/jack/JackArrivalGate.h"
#include "platform/jack/JackClients.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::eventually;

// Where a thread is held: before it takes the lock, and inside.
struct Hold {
    const char* words;
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    std::atomic<bool> cancelled{false};
};

Hold beforeTheLock{"ClientNotify ref = "};
Hold insideTheLock{"RemoveClient name = quenbril-other"};

// A thread libjack cancels unwinds through the hold.
void holdAt(Hold& hold) {
    struct Unwound {
        Hold& hold;
        bool normally = false;
        ~Unwound() {
            if (!normally) hold.cancelled = true;
        }
    } unwound{hold};
    hold.reached = true;
    while (!hold.released.load()) usleep(1000);
    unwound.normally = true;
}

void holdTheDeparture(const char* message) {
    if (std::strstr(message, "name = quenbril-other notify = 1") &&
        std::strstr(message, beforeTheLock.words) && !beforeTheLock.reached.load()) {
        holdAt(beforeTheLock);
    } else if (std::strstr(message, insideTheLock.words) && !insideTheLock.reached.load()) {
        holdAt(insideTheLock);
    }
}

void ignore(const char*) {}

TEST(JackCloseNews, AClientClosedWhileItTakesInTheDepartureOfAnotherOfOursLetsItFinishFirst) {
    QUENBRIL_REQUIRE_JACK();
    ASSERT_TRUE(test::JackServer::shared().start(48000, 8, true));
    jack_status_t status{};
    jack_client_t* watch = JackClients::open("quenbril-watch", &status);
    jack_client_t* other = JackClients::open("quenbril-other", &status);
    ASSERT_NE(watch, nullptr);
    ASSERT_NE(other, nullptr);
    {
        auto held = JackClients::inUse();
        ASSERT_EQ(JackClients::activate(watch), 0);
        ASSERT_EQ(JackClients::activate(other), 0);
    }
    jack_set_info_function(&holdTheDeparture);
    // The watch reads the departure late, as on a loaded machine: after the other's close has
    // ended, and with it every use of the lock but the watch's.
    {
        auto held = JackClients::inUse();
        JackClients::close(other);
    }
    ASSERT_TRUE(eventually([&] { return beforeTheLock.reached.load(); }));
    beforeTheLock.released = true;
    ASSERT_TRUE(eventually([&] { return insideTheLock.reached.load(); }));

    std::atomic<bool> closed{false};
    std::thread closer([&] {
        auto held = JackClients::inUse();
        JackClients::close(watch);
        closed = true;
    });
    ASSERT_TRUE(eventually([&] {
        return closed.load() || insideTheLock.cancelled.load() ||
               JackArrivalGate::settlingForTesting() > 0;
    }));
    insideTheLock.released = true;
    if (!eventually([&] { return closed.load(); }, test::scaledSeconds(10))) {
        // The closer waits inside libjack for ever, holding its open lock: nothing of the
        // process could end.
        ADD_FAILURE() << "the close never returned; the watch's thread was cancelled inside the "
                         "lock: "
                      << (insideTheLock.cancelled.load() ? "yes" : "no");
        std::fflush(nullptr);
        std::_Exit(1);
    }
    closer.join();
    jack_set_info_function(&ignore);
    EXPECT_FALSE(insideTheLock.cancelled.load())
        << "the close cancelled the watch's thread while it took in the departure";
}

}  // namespace
}  // namespace quenbril
