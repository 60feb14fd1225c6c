#include <gtest/gtest.h>

#include <vector>

#include "foundation/ManualRunLoop.h"
#include "foundation/RunLoopAnimation.h"

namespace quenbril {
namespace {

class RunLoopAnimationTest : public testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop); }
    void TearDown() override { RunLoop::setMain(nullptr); }
    ManualRunLoop loop{1000.0};
};

TEST_F(RunLoopAnimationTest, StepsFollowTheClockAndEndExactlyOnTheDuration) {
    RunLoopAnimation animation;
    std::vector<double> steps;
    int done = 0;
    animation.start(
        2.0, [&](double p) { steps.push_back(p); }, [&] { ++done; });
    ASSERT_EQ(steps, std::vector<double>{0.0});
    loop.advance(1.0);
    EXPECT_NEAR(steps.back(), 0.5, 0.01);
    EXPECT_TRUE(animation.isRunning());
    loop.advance(0.999);
    EXPECT_LT(steps.back(), 1.0);
    EXPECT_EQ(done, 0);
    loop.advance(0.001);
    EXPECT_EQ(steps.back(), 1.0);
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(animation.isRunning());
    const size_t count = steps.size();
    loop.advance(5.0);
    EXPECT_EQ(steps.size(), count);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(RunLoopAnimationTest, StopAndRestartDropTheEarlierEnd) {
    RunLoopAnimation animation;
    int firstDone = 0, secondDone = 0;
    animation.start(1.0, nullptr, [&] { ++firstDone; });
    loop.advance(0.5);
    animation.stop();
    loop.advance(1.0);
    EXPECT_EQ(firstDone, 0);
    animation.start(1.0, nullptr, [&] { ++firstDone; });
    loop.advance(0.5);
    animation.start(1.0, nullptr, [&] { ++secondDone; });  // the first one's end is dropped
    loop.advance(0.6);
    EXPECT_EQ(firstDone, 0);
    EXPECT_EQ(secondDone, 0);
    loop.advance(0.4);
    EXPECT_EQ(secondDone, 1);
}

TEST_F(RunLoopAnimationTest, ZeroDurationEndsAtTheNextTurnAndDoneMayStartAgain) {
    RunLoopAnimation animation;
    int ends = 0;
    std::function<void()> again = [&] {
        if (++ends < 3) animation.start(0.0, nullptr, again);
    };
    animation.start(0.0, nullptr, again);
    EXPECT_EQ(ends, 0);
    loop.runPending();
    EXPECT_EQ(ends, 3);
    EXPECT_FALSE(animation.isRunning());
}

}  // namespace
}  // namespace quenbril
