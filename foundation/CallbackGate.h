#pragma once

#include <pthread.h>

#include <atomic>
#include <thread>

namespace quenbril {

/// Stands between a thread that calls back (a real-time one, which must never wait) and the
/// receiver of its calls, so that the receiver can be cut off for good while a call may be
/// running. After `close()` returns, no call passed through `pass()` is running or will run.
class CallbackGate {
  public:
    /// Runs `call` unless the gate is closed; returns whether it ran. Never waits. A host that
    /// cancels its thread at once, even inside a call (libjack does when it stops a client),
    /// has the cancel put off until the thread has left: one killed inside would never leave,
    /// and close() would wait for it for ever. A call that throws leaves the gate as one that
    /// returns does.
    template <typename Call>
    bool pass(Call&& call) {
        int cancelState = PTHREAD_CANCEL_ENABLE;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
        inside_.fetch_add(1);
        const bool open = !closed_.load();
        if (open) {
            try {
                call();
            } catch (...) {
                leave(cancelState);
                throw;
            }
        }
        // Not from a destructor: a cancel put off acts here, and unwinds.
        leave(cancelState);
        return open;
    }

    /// Both sides use sequentially consistent order: either a call sees the gate closed, or this
    /// sees the call inside and waits for it to leave.
    void close() {
        closed_.store(true);
        while (inside_.load() != 0) std::this_thread::yield();
    }

  private:
    void leave(int cancelState) {
        inside_.fetch_sub(1);
        pthread_setcancelstate(cancelState, &cancelState);
    }

    std::atomic<bool> closed_{false};
    std::atomic<int> inside_{0};
};

}  // namespace quenbril
