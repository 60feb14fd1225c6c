#include <gtest/gtest.h>

#include <chrono>

#include "platform/jack/RefusedSocketBackoff.h"

namespace quenbril {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Time = RefusedSocketBackoff::Clock::time_point;

constexpr SocketIdentity kKilledServers{1, 100};
constexpr SocketIdentity kNewServers{1, 101};

TEST(RefusedSocketBackoff, ASocketIsTriedSoonWhileItMayBeStartingThenLessAndLessOften) {
    RefusedSocketBackoff backoff;
    Time now{};
    EXPECT_TRUE(backoff.worthTrying(kKilledServers, now));
    // A server under load may refuse for a few seconds after making its socket.
    const Time first = now;
    while (now - first < seconds(5)) {
        backoff.refused(kKilledServers, now);
        EXPECT_FALSE(backoff.worthTrying(kKilledServers, now + milliseconds(249)));
        EXPECT_TRUE(backoff.worthTrying(kKilledServers, now + milliseconds(250)));
        now += milliseconds(600);
    }
    // Refusing still: a killed server's, tried less and less often.
    for (int wanted : {1, 2, 4, 8, 16, 30, 30}) {
        backoff.refused(kKilledServers, now);
        const Time due = now + seconds(wanted);
        EXPECT_FALSE(backoff.worthTrying(kKilledServers, due - milliseconds(1))) << wanted;
        EXPECT_TRUE(backoff.worthTrying(kKilledServers, due)) << wanted;
        // A server slow to start may yet answer on it, until the waits are the longest.
        EXPECT_EQ(backoff.mayBeStarting(kKilledServers), wanted < 30) << wanted;
        EXPECT_FALSE(backoff.mayBeStarting(kNewServers));
        // Polls come late: the wait counts from the refusal, whenever it came.
        now = due + milliseconds(300);
    }
}

TEST(RefusedSocketBackoff, AnotherSocketOrAServerThatAnsweredStartsAfresh) {
    RefusedSocketBackoff backoff;
    Time now{};
    for (int i = 0; i < 4; ++i) {
        backoff.refused(kKilledServers, now);
        now += seconds(30);
    }
    // A server started in the old one's place: its socket is tried at once, and soon after a
    // first refusal while it may still be starting.
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now));
    backoff.refused(kNewServers, now);
    EXPECT_FALSE(backoff.worthTrying(kNewServers, now));
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now + milliseconds(250)));

    now += seconds(6);
    backoff.refused(kNewServers, now);
    EXPECT_FALSE(backoff.worthTrying(kNewServers, now + milliseconds(999)));
    backoff.forget();
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now));
    backoff.refused(kNewServers, now);
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now + milliseconds(250)));
}

}  // namespace
}  // namespace quenbril
