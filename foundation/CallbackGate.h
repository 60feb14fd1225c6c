#pragma once

#include <pthread.h>

#include <atomic>
#include <thread>

namespace quenbril {

/// Runs `call` with the thread's cancel put off until it has returned: a host that cancels its
/// thread at once, even inside a call (libjack does when it stops a client), would otherwise
/// kill it holding a lock, or unwind it through frames that may not throw. A cancel put off
/// acts once the call has returned, and unwinds from here: so never from a destructor.
template <typename Call>
void withCancelPutOff(Call&& call) {
    int cancelState = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
    try {
        call();
    } catch (...) {
        pthread_setcancelstate(cancelState, &cancelState);
        throw;
    }
    pthread_setcancelstate(cancelState, &cancelState);
}

/// Stands between a thread that calls back (a real-time one, which must never wait) and the
/// receiver of its calls, so that the receiver can be cut off for good while a call may be
/// running. After `close()` returns, no call passed through `pass()` is running or will run.
class CallbackGate {
  public:
    /// Runs `call` unless the gate is closed; returns whether it ran. Never waits. The thread's
    /// cancel is put off until it has left (withCancelPutOff): one killed inside would never
    /// leave, and close() would wait for it for ever. A call that throws leaves the gate as one
    /// that returns does.
    template <typename Call>
    bool pass(Call&& call) {
        bool open = false;
        withCancelPutOff([&] {
            inside_.fetch_add(1);
            open = !closed_.load();
            try {
                if (open) call();
            } catch (...) {
                inside_.fetch_sub(1);
                throw;
            }
            inside_.fetch_sub(1);
        });
        return open;
    }

    /// Both sides use sequentially consistent order: either a call sees the gate closed, or this
    /// sees the call inside and waits for it to leave.
    void close() {
        closed_.store(true);
        while (inside_.load() != 0) std::this_thread::yield();
    }

  private:
    std::atomic<bool> closed_{false};
    std::atomic<int> inside_{0};
};

}  // namespace quenbril
