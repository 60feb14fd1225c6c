#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/BoundedWorker.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::eventually;
using test::Gate;

constexpr double kShort = 0.05;

// Generous for jobs that return: only a stuck job should ever meet it.
double patient() { return test::scaledSeconds(30); }

// Records the thread its last owner lets go of it on.
struct Witness {
    explicit Witness(std::atomic<std::thread::id>* freedOn) : freedOn(freedOn) {}
    std::atomic<std::thread::id>* freedOn;
    ~Witness() { freedOn->store(std::this_thread::get_id()); }
};

TEST(BoundedWorker, AJobThatNeverReturnsCostsOneWaitThenCallsFailAtOnceUntilItReturns) {
    BoundedWorker worker("Test", "the test library does not answer", patient());
    EXPECT_EQ(worker.call<int>([] { return 7; }), 7);

    // The call behind a job that does not return costs the one wait.
    auto gate = std::make_shared<Gate>();
    worker.post([gate] { gate->pass(); });
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    worker.setLimit(kShort);
    EXPECT_FALSE(worker.run([] {}));
    EXPECT_TRUE(worker.isStuck());

    // Refused, not queued: the job is handed back untouched and never runs.
    auto ran = std::make_shared<std::atomic<bool>>(false);
    std::function<void()> refused = [ran] { ran->store(true); };
    EXPECT_FALSE(worker.run(std::move(refused)));
    ASSERT_TRUE(refused);
    EXPECT_EQ(worker.call<int>([] { return 1; }), std::nullopt);

    gate->open();
    ASSERT_TRUE(eventually([&] { return !worker.isStuck(); }));
    worker.setLimit(patient());
    EXPECT_EQ(worker.call<int>([] { return 8; }), 8);
    EXPECT_FALSE(ran->load());
}

TEST(BoundedWorker, AJobWhoseCallerGaveUpBeforeItStartedIsSkippedAndFreedOnTheWorker) {
    BoundedWorker worker("Test", "the test library does not answer", patient());
    auto gate = std::make_shared<Gate>();
    std::atomic<std::thread::id> freedOn;

    // The second caller waits behind the first job, gives up, and leaves its job queued.
    std::thread first([&] { EXPECT_TRUE(worker.run([gate] { gate->pass(); })); });
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    worker.setLimit(kShort);
    auto ran = std::make_shared<std::atomic<bool>>(false);
    {
        auto witness = std::make_shared<Witness>(&freedOn);
        EXPECT_FALSE(worker.run([ran, witness] { ran->store(true); }));
    }
    EXPECT_EQ(freedOn.load(), std::thread::id());

    gate->open();
    first.join();
    ASSERT_TRUE(eventually([&] { return freedOn.load() != std::thread::id(); }));
    EXPECT_NE(freedOn.load(), std::this_thread::get_id());
    EXPECT_FALSE(ran->load());
    // The worker answers again once nothing is left, the skipped job included.
    EXPECT_TRUE(eventually([&] { return !worker.isStuck(); }));
}

TEST(BoundedWorker, WorkThatFreesRunsHoweverLateInOrderAndNeverOnTheCaller) {
    BoundedWorker worker("Test", "the test library does not answer", patient());
    auto gate = std::make_shared<Gate>();
    auto order = std::make_shared<std::vector<int>>();

    // Queued behind another caller's job that overruns: the caller gives up, the job still runs.
    std::thread first([&] { EXPECT_TRUE(worker.run([gate] { gate->pass(); })); });
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    worker.setLimit(kShort);
    EXPECT_FALSE(worker.runEvenLate([order] { order->push_back(1); }));
    EXPECT_TRUE(worker.isStuck());

    // While stuck it is queued, not refused nor waited for, and keeps its place.
    EXPECT_FALSE(worker.runEvenLate([order] { order->push_back(2); }));
    worker.post([order] { order->push_back(3); });
    EXPECT_EQ(worker.call<int>([] { return 1; }), std::nullopt);

    // A result that comes after its caller gave up is freed on the worker.
    std::atomic<std::thread::id> freedOn;
    gate->open();
    first.join();
    ASSERT_TRUE(eventually([&] { return !worker.isStuck(); }));
    auto late = std::make_shared<Gate>();
    EXPECT_EQ(worker.call<std::shared_ptr<Witness>>([late, &freedOn] {
        late->pass();
        return std::make_shared<Witness>(&freedOn);
    }),
              std::nullopt);
    late->open();
    ASSERT_TRUE(eventually([&] { return freedOn.load() != std::thread::id(); }));
    EXPECT_NE(freedOn.load(), std::this_thread::get_id());
    EXPECT_EQ(*order, (std::vector<int>{1, 2, 3}));
}

TEST(BoundedWorker, AJobOnTheWorkerRunsInPlaceAndTheWorkerOutlivesItsOwnerWhileStuck) {
    auto gate = std::make_shared<Gate>();
    auto inner = std::make_shared<std::atomic<bool>>(false);
    {
        BoundedWorker worker("Test", "the test library does not answer", patient());
        // A job that calls its own worker would otherwise wait on itself for ever.
        EXPECT_TRUE(worker.run([&worker, inner] {
            EXPECT_TRUE(worker.isWorkerThread());
            EXPECT_TRUE(worker.run([inner] { inner->store(true); }));
        }));
        EXPECT_TRUE(inner->load());
        worker.setLimit(kShort);
        EXPECT_FALSE(worker.run([gate] { gate->pass(); }));
        // Its destruction does not wait for the stuck job.
    }
    gate->open();
}

}  // namespace
}  // namespace quenbril
