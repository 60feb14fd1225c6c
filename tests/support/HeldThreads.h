#pragma once

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <set>

namespace quenbril::test {

// Holds each thread it is sent to in a signal handler until released, so that a test can put
// libjack's own threads behind what the process does meanwhile, as a loaded machine may.
//
// A thread is never held inside a call of ours that put its cancel off (a callback passing
// through a CallbackGate, the arrival gate's news): an owner may wait for such a call to leave,
// which it always soon does, and a hold there would keep it waiting for good. The thread is
// asked again until it is held elsewhere.
//
// Each signal carries the number of its request: an answer is taken only for the request it
// answers, and a signal that arrives after its holder let go (one the holder gave up waiting
// for) passes straight through, whatever holder comes next. The signal is a real-time one, so
// that a request still pending for a thread does not swallow the next.
class HeldThreads {
  public:
    /// Holds each of `threads` in turn, waiting at most `seconds` in all.
    HeldThreads(const std::set<int>& threads, double seconds)
        : wanted_(static_cast<int>(threads.size())) {
        static const bool installed = [] {
            struct sigaction action {};
            action.sa_sigaction = &answer;
            action.sa_flags = SA_RESTART | SA_SIGINFO;
            return ::sigaction(holdSignal(), &action, nullptr) == 0;
        }();
        if (!installed) return;
        timespec deadline{};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(seconds) + 1;
        for (int thread : threads) {
            if (!hold(thread, deadline)) return;
        }
    }
    ~HeldThreads() { releasedBelow_.store(nextRequest_.load()); }
    HeldThreads(const HeldThreads&) = delete;
    HeldThreads& operator=(const HeldThreads&) = delete;

    /// False where a thread could not be held (ThreadSanitizer, for one, puts off a signal that
    /// comes while the thread is inside a library call).
    bool all() const { return held_count_ == wanted_; }

  private:
    // Apart from the one the JACK clients park their news threads with.
    static int holdSignal() { return SIGRTMIN + 3; }

    static void answer(int, siginfo_t* info, void*) {
        const long request =
            static_cast<long>(reinterpret_cast<intptr_t>(info->si_value.sival_ptr));
        if (request < releasedBelow_.load()) return;
        int state = PTHREAD_CANCEL_ENABLE;
        ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
        if (state == PTHREAD_CANCEL_DISABLE) {
            answered_.store(request * 2);
            return;
        }
        answered_.store(request * 2 + 1);
        const timespec moment{0, 1000000};
        while (releasedBelow_.load() <= request) ::nanosleep(&moment, nullptr);
        ::pthread_setcancelstate(state, &state);
    }

    bool hold(int thread, const timespec& deadline) {
        const timespec moment{0, 1000000};
        for (;;) {
            const long request = nextRequest_.fetch_add(1);
            siginfo_t info{};
            info.si_signo = holdSignal();
            info.si_code = SI_QUEUE;
            info.si_pid = ::getpid();
            info.si_uid = ::getuid();
            info.si_value.sival_ptr = reinterpret_cast<void*>(static_cast<intptr_t>(request));
            if (::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), thread, holdSignal(), &info) != 0) {
                return false;
            }
            long answer = -1;
            while ((answer = answered_.load()) / 2 != request) {
                if (passed(deadline)) return false;
                ::nanosleep(&moment, nullptr);
            }
            if (answer % 2 == 1) {
                ++held_count_;
                return true;
            }
            // Out of such a call within a moment.
            ::nanosleep(&moment, nullptr);
        }
    }

    static bool passed(const timespec& deadline) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec > deadline.tv_sec ||
               (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
    }

    static inline std::atomic<long> nextRequest_{1};
    // Requests below it are let go; a thread held for one goes on.
    static inline std::atomic<long> releasedBelow_{0};
    // The latest answer: twice its request, plus one when the thread is held.
    static inline std::atomic<long> answered_{0};
    int wanted_;
    int held_count_ = 0;
};

}  // namespace quenbril::test
