#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/jack/JackNewsThreadPark.h"
#include "platform/jack/JackThreadStarts.h"

namespace quenbril {
namespace {

// A news thread whose server has just died ends on its own, with every signal held back on its
// way out: a park request that reached it then is never answered. The park sees the thread gone
// rather than waiting out its whole bound, under the closing lock, for an answer that cannot come.
TEST(JackNewsThreadPark, AThreadThatEndsWithTheRequestUnansweredIsFoundGone) {
    if (!JackNewsThreadPark::possible()) GTEST_SKIP() << "threads cannot be parked here";
    std::atomic<pid_t> id{0};
    std::thread ending([&id] {
        // As a thread on its way out: signals held back.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        id.store(::gettid());
        // Ends once the request has reached it.
        for (;;) {
            sigset_t pending;
            sigpending(&pending);
            bool asked = false;
            for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) asked = asked || sigismember(&pending, s);
            if (asked) return;
            const timespec moment{0, 100000};
            ::nanosleep(&moment, nullptr);
        }
    });
    while (id.load() == 0) std::this_thread::yield();
    const auto parked = JackNewsThreadPark::park({id.load(), 0xfffffffeU}, std::chrono::seconds(5));
    ending.join();
    EXPECT_EQ(parked, JackNewsThreadPark::Parked::NotThere);
}

}  // namespace
}  // namespace quenbril
