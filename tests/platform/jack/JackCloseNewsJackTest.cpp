// libjack takes in each client's arrival and departure on every client's notification thread,
// under one lock of the whole process (held around the mapping of that client's wake-up object),
// and a close cancels the closing client's thread at once, wherever it is: cancelled in there,
// the thread leaves the lock taken, and the close waits on it for ever. A client of ours closes
// only once it has read the departures of our clients that closed before it, and our closes run
// one at a time; and its thread is parked outside the lock before the close.
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
#include <memory>
#include <string>
#include <thread>

#include "platform/audio/JackAudioBackend.h"
#include "platform/jack/JackArrivalGate.h"
#include "platform/jack/JackClients.h"
#include "platform/jack/JackNewsThreadPark.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::eventually;

// Where a thread is held: before it takes the lock, inside, or in a close.
struct Hold {
    std::atomic<bool> reached{false};
    std::atomic<bool> released{false};
    std::atomic<bool> cancelled{false};
};

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

// The holds of one test: a notification thread taking in the departure of `departing`
// (quenbril-other unless the test says), before the lock and inside; and, when the test names its
// thread, that thread's close as it deactivates its client.
struct Holds {
    // Read on libjack's threads as the test changes it.
    std::atomic<const char*> departing{"quenbril-other"};
    Hold beforeTheLock;
    Hold insideTheLock;
    Hold deactivating;
    std::atomic<std::thread::id> closer{};
};

std::atomic<Holds*> holds{nullptr};

void holdWhereTold(const char* message) {
    Holds* h = holds.load();
    if (!h) return;
    const std::string told = message;
    const std::string departing = h->departing.load();
    if (told.find("ClientNotify ref = ") != std::string::npos &&
        told.find("name = " + departing + " notify = 1") != std::string::npos &&
        !h->beforeTheLock.reached) {
        holdAt(h->beforeTheLock);
    } else if (told.find("RemoveClient name = " + departing) != std::string::npos &&
               !h->insideTheLock.reached) {
        holdAt(h->insideTheLock);
    } else if (std::strstr(message, "JackClient::Deactivate") &&
               std::this_thread::get_id() == h->closer.load() && !h->deactivating.reached) {
        holdAt(h->deactivating);
    }
}

void ignore(const char*) {}

class JackCloseNews : public ::testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        ASSERT_TRUE(test::JackServer::shared().start(48000, 8, true));
        jack_status_t status{};
        watch_ = JackClients::open("quenbril-watch", &status);
        other_ = JackClients::open("quenbril-other", &status);
        ASSERT_NE(watch_, nullptr);
        ASSERT_NE(other_, nullptr);
        auto held = JackClients::inUse();
        ASSERT_EQ(JackClients::activate(watch_), 0);
        ASSERT_EQ(JackClients::activate(other_), 0);
        holds = &holds_;
        jack_set_info_function(&holdWhereTold);
    }

    void TearDown() override {
        jack_set_info_function(&ignore);
        holds = nullptr;
    }

    // Closes `client` on a thread of its own, which sets `closed` once the close returned;
    // held as it deactivates the client when `holdInDeactivation`.
    std::thread closeOnAThreadOfItsOwn(jack_client_t* client, std::atomic<bool>& closed,
                                       bool holdInDeactivation = false) {
        return std::thread([this, client, &closed, holdInDeactivation] {
            if (holdInDeactivation) holds_.closer = std::this_thread::get_id();
            auto held = JackClients::inUse();
            JackClients::close(client);
            closed = true;
        });
    }

    // Waits for `closed`; a close that never returns waits inside libjack for ever, holding its
    // open lock, and nothing of the process could end.
    void expectTheCloseReturns(const std::atomic<bool>& closed) {
        if (eventually([&] { return closed.load(); }, test::scaledSeconds(10))) return;
        ADD_FAILURE() << "the close never returned; the watch's thread was cancelled inside the "
                         "lock: "
                      << (holds_.insideTheLock.cancelled.load() ? "yes" : "no");
        std::fflush(nullptr);
        std::_Exit(1);
    }

    // The watch's thread takes in the other's departure late, as on a loaded machine: after the
    // other's close has ended, and with it every use of the lock but the watch's.
    void letTheWatchReadTheDepartureUpToInsideTheLock() {
        ASSERT_TRUE(eventually([&] { return holds_.beforeTheLock.reached.load(); }));
        holds_.beforeTheLock.released = true;
        ASSERT_TRUE(eventually([&] { return holds_.insideTheLock.reached.load(); }));
    }

    jack_client_t* watch_ = nullptr;
    jack_client_t* other_ = nullptr;
    Holds holds_;
};

TEST_F(JackCloseNews, AClientClosedWhileItTakesInTheDepartureOfAnotherOfOursLetsItFinishFirst) {
    {
        auto held = JackClients::inUse();
        JackClients::close(other_);
    }
    letTheWatchReadTheDepartureUpToInsideTheLock();

    std::atomic<bool> closed{false};
    std::thread closer = closeOnAThreadOfItsOwn(watch_, closed);
    ASSERT_TRUE(eventually([&] {
        return closed.load() || holds_.insideTheLock.cancelled.load() ||
               JackArrivalGate::settlingForTesting() > 0;
    }));
    holds_.insideTheLock.released = true;
    expectTheCloseReturns(closed);
    closer.join();
    EXPECT_FALSE(holds_.insideTheLock.cancelled.load())
        << "the close cancelled the watch's thread while it took in the departure";
}

// A deactivated client reports no news, yet its thread still takes in departures inside the
// lock: another close of ours waits until its close has ended.
TEST_F(JackCloseNews, AnotherCloseWaitsForAClientWhoseCloseNoLongerHearsItsNews) {
    std::atomic<bool> watchClosed{false};
    std::atomic<bool> otherClosed{false};
    std::thread watchCloser = closeOnAThreadOfItsOwn(watch_, watchClosed, true);
    ASSERT_TRUE(eventually([&] { return holds_.deactivating.reached.load(); }));

    std::thread otherCloser = closeOnAThreadOfItsOwn(other_, otherClosed);
    ASSERT_TRUE(eventually(
        [&] { return otherClosed.load() || JackClients::closesWaitingForTesting() > 0; }));
    if (otherClosed) {
        // The other closed in the meantime: its departure reaches the watch's thread, which
        // is held inside the lock as the watch's close goes on.
        letTheWatchReadTheDepartureUpToInsideTheLock();
    }
    holds_.deactivating.released = true;
    expectTheCloseReturns(watchClosed);
    holds_.insideTheLock.released = true;
    expectTheCloseReturns(otherClosed);
    watchCloser.join();
    otherCloser.join();
    EXPECT_FALSE(holds_.insideTheLock.cancelled.load())
        << "the watch's close cancelled its thread while it took in the other's departure";
}
// Another program's client may leave at any moment, unknown to every lock of ours, and each
// client of ours takes in its departure inside the lock: a client closed then is let finish.
TEST_F(JackCloseNews, AClientClosedAsAnotherProgramsClientLeavesLetsItFinishFirst) {
    if (!JackNewsThreadPark::possible()) {
        GTEST_SKIP() << "a notification thread cannot be parked in this build";
    }
    {
        // The watch is the only client of ours whose thread takes in the stranger's departure.
        auto held = JackClients::inUse();
        JackClients::close(other_);
    }
    holds_.departing = "quenbril-stranger";
    jack_client_t* stranger = nullptr;
    {
        auto opening = JackClients::opening();
        stranger = jack_client_open("quenbril-stranger", JackNoStartServer, nullptr);
    }
    ASSERT_NE(stranger, nullptr);
    jack_client_close(stranger);
    letTheWatchReadTheDepartureUpToInsideTheLock();

    const long declinedBefore = JackNewsThreadPark::declinedForTesting();
    const long heldBefore = JackNewsThreadPark::heldForTesting();
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        auto opening = JackClients::opening();
        JackClients::closeUnlessGone(watch_, nullptr);
        closed = true;
    });
    // The close finds the thread inside the lock and waits for it.
    ASSERT_TRUE(eventually([&] {
        return closed.load() || holds_.insideTheLock.cancelled.load() ||
               JackNewsThreadPark::declinedForTesting() > declinedBefore;
    }));
    holds_.insideTheLock.released = true;
    expectTheCloseReturns(closed);
    closer.join();
    EXPECT_FALSE(holds_.insideTheLock.cancelled.load())
        << "the close cancelled the watch's thread while it took in the departure";
    EXPECT_EQ(JackNewsThreadPark::heldForTesting(), heldBefore + 1)
        << "the close went on without the thread parked";
}

// An inactive client takes in the departures of our clients that close, unheard by the arrival
// gate: a stream whose client does not become active (here, a server at another rate) closes it
// before any other client of ours can close.
TEST_F(JackCloseNews, AStreamWhoseClientNeverStartsClosesItBeforeAnyOtherCloseOfOurs) {
    JackAudioBackend backend;
    // The backend silences libjack's messages.
    jack_set_info_function(&holdWhereTold);
    const auto devices = backend.devices();
    ASSERT_FALSE(devices.empty());
    class Silence : public AudioStreamClient {
        void process(const float* const*, float* const*, int, bool) override {}
    } silence;
    AudioStreamParameters p;
    p.device = devices.front().index;
    p.outputChannels = 2;
    p.sampleRate = 44100.0;
    std::string error;
    std::unique_ptr<AudioStream> stream;
    std::atomic<bool> openingHeld{false};
    std::thread opener([&] {
        holds_.closer = std::this_thread::get_id();
        stream = backend.openStream(p, silence, error);
    });
    ASSERT_TRUE(eventually([&] { return holds_.deactivating.reached.load(); }));
    openingHeld = JackClients::openingHeldForTesting();
    holds_.deactivating.released = true;
    opener.join();
    EXPECT_EQ(stream, nullptr);
    EXPECT_NE(error.find("48000 Hz"), std::string::npos) << error;
    EXPECT_TRUE(openingHeld) << "the stream's inactive client was closed where another close of "
                                "ours could have come first";
    holds = nullptr;
    auto held = JackClients::inUse();
    JackClients::close(other_);
    JackClients::close(watch_);
}

}  // namespace
}  // namespace quenbril
