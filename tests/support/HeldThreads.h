#pragma once

#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <set>

namespace quenbril::test {

// Holds each thread it is sent to in a signal handler until released, so that a test can put
// libjack's own threads behind what the process does meanwhile, as a loaded machine may. A thread
// that takes the signal only after the holder gave up waiting for it passes straight through.
class HeldThreads {
  public:
    /// Sends the signal to each of `threads` and waits, at most `seconds`, for all to be held.
    HeldThreads(const std::set<int>& threads, double seconds)
        : sent_(static_cast<int>(threads.size())) {
        static const bool installed = [] {
            ::sem_init(&held_, 0, 0);
            ::sem_init(&released_, 0, 0);
            struct sigaction hold {};
            hold.sa_handler = [](int) {
                ::sem_post(&held_);
                while (::sem_wait(&released_) != 0) {
                }
            };
            hold.sa_flags = SA_RESTART;
            return ::sigaction(SIGUSR1, &hold, nullptr) == 0;
        }();
        if (!installed) return;
        timespec deadline{};
        ::clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += static_cast<time_t>(seconds) + 1;
        for (int thread : threads) ::syscall(SYS_tgkill, ::getpid(), thread, SIGUSR1);
        while (held_count_ < sent_ && ::sem_timedwait(&held_, &deadline) == 0) ++held_count_;
    }
    ~HeldThreads() {
        // One pass for every signal sent, held already or still to come.
        for (int k = 0; k < sent_; ++k) ::sem_post(&released_);
    }
    /// False where a thread could not be held (ThreadSanitizer, for one, puts off a signal that
    /// comes while the thread is inside a library call).
    bool all() const { return held_count_ == sent_; }

  private:
    // Never destroyed: a thread may still be leaving the handler after this holder is gone.
    static inline sem_t held_;
    static inline sem_t released_;
    int sent_;
    int held_count_ = 0;
};

}  // namespace quenbril::test
