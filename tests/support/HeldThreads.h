#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <set>

namespace quenbril::test {

// Holds each thread it is sent to in a signal handler until released, so that a test can put
// libjack's own threads behind what the process does meanwhile, as a loaded machine may. A thread
// that takes the signal only after the holder gave up waiting for it passes straight through.
//
// A thread is never held inside a call of ours that put its cancel off (a callback passing
// through a CallbackGate, the arrival gate's news): an owner may wait for such a call to leave,
// which it always soon does, and a hold there would keep it waiting for good. The thread is
// asked again until it is held elsewhere.
class HeldThreads {
  public:
    /// Holds each of `threads` in turn, waiting at most `seconds` in all.
    HeldThreads(const std::set<int>& threads, double seconds)
        : wanted_(static_cast<int>(threads.size())) {
        static const bool installed = [] {
            ::sem_init(&answered_, 0, 0);
            ::sem_init(&released_, 0, 0);
            struct sigaction action {};
            action.sa_handler = [](int) {
                int state = PTHREAD_CANCEL_ENABLE;
                ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
                if (state == PTHREAD_CANCEL_DISABLE) {
                    declined_.fetch_add(1);
                    ::sem_post(&answered_);
                    return;
                }
                ::sem_post(&answered_);
                while (::sem_wait(&released_) != 0) {
                }
                ::pthread_setcancelstate(state, &state);
            };
            action.sa_flags = SA_RESTART;
            return ::sigaction(SIGUSR1, &action, nullptr) == 0;
        }();
        if (!installed) return;
        timespec deadline{};
        ::clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += static_cast<time_t>(seconds) + 1;
        for (int thread : threads) {
            if (!hold(thread, deadline)) return;
        }
    }
    ~HeldThreads() {
        // One pass for every thread held, and for a signal not answered yet, which may still be.
        for (int k = 0; k < held_count_ + unanswered_; ++k) ::sem_post(&released_);
    }
    /// False where a thread could not be held (ThreadSanitizer, for one, puts off a signal that
    /// comes while the thread is inside a library call).
    bool all() const { return held_count_ == wanted_; }

  private:
    bool hold(int thread, const timespec& deadline) {
        for (;;) {
            const int declinedBefore = declined_.load();
            if (::syscall(SYS_tgkill, ::getpid(), thread, SIGUSR1) != 0) return false;
            if (::sem_timedwait(&answered_, &deadline) != 0) {
                unanswered_ = 1;
                return false;
            }
            if (declined_.load() == declinedBefore) {
                ++held_count_;
                return true;
            }
            // Out of such a call within a moment.
            const timespec moment{0, 1000000};
            ::nanosleep(&moment, nullptr);
        }
    }

    // Never destroyed: a thread may still be leaving the handler after this holder is gone.
    static inline sem_t answered_;
    static inline sem_t released_;
    static inline std::atomic<int> declined_{0};
    int wanted_;
    int held_count_ = 0;
    int unanswered_ = 0;
};

}  // namespace quenbril::test
