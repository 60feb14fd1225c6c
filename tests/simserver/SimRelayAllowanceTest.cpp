#include <gtest/gtest.h>

#include "simserver/SimChat.h"
#include "simserver/SimRelayAllowance.h"

namespace quenbril::test {
namespace {

TEST(SimRelayAllowanceTest, ABurstGoesThenTheRateAndTheLargestChatMessagesFit) {
    SimRelayAllowance allowance;
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(allowance.take(100, 1.0)) << i;
    EXPECT_FALSE(allowance.take(100, 1.0)) << "the burst is spent";
    EXPECT_TRUE(allowance.take(100, 1.1)) << "a tenth of a second later, one more";
    EXPECT_FALSE(allowance.take(100, 1.1));
    EXPECT_EQ(allowance.refused(), 2u);

    // A remote quiet for long has its whole burst again, no more; the largest chat messages
    // go a few at once, then as the bytes come back.
    SimRelayAllowance large;
    const size_t message = SimChat::kMaxMessageBytes + 8;
    int atOnce = 0;
    while (large.take(message, 100.0)) ++atOnce;
    EXPECT_GE(atOnce, 3);
    EXPECT_LE(atOnce * message, SimRelayAllowance::kBurstBytes);
    EXPECT_TRUE(large.take(message, 100.6));
}

}  // namespace
}  // namespace quenbril::test
