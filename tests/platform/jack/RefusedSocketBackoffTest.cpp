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

TEST(RefusedSocketBackoff, ASocketThatKeepsRefusingWaitsDoublingFromOneSecondUpToThirty) {
    RefusedSocketBackoff backoff;
    Time now{};
    EXPECT_TRUE(backoff.worthTrying(kKilledServers, now));
    for (int wanted : {1, 2, 4, 8, 16, 30, 30}) {
        backoff.refused(kKilledServers, now);
        const Time due = now + seconds(wanted);
        EXPECT_FALSE(backoff.worthTrying(kKilledServers, due - milliseconds(1))) << wanted;
        EXPECT_TRUE(backoff.worthTrying(kKilledServers, due)) << wanted;
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
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now + seconds(1)));

    backoff.refused(kNewServers, now + seconds(1));
    backoff.forget();
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now + seconds(1)));
    backoff.refused(kNewServers, now + seconds(1));
    EXPECT_TRUE(backoff.worthTrying(kNewServers, now + seconds(2)));
}

}  // namespace
}  // namespace quenbril
