#pragma once

// What the JACK client tests hold a client's notification thread with, and count its process
// cycles by.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace quenbril::test {

/// Holds a client's notification thread in a callback, after libjack has taken in the news that
/// called it, until release(): the news after it waits unread. Armed by hand for the next port
/// registration (onPort), or by a client's name for its next arrival or departure (onClient).
struct NewsHold {
    std::mutex lock;
    std::condition_variable changed;
    bool armed = false;
    std::string arrival;
    std::string departure;
    bool holding = false;
    bool released = false;
    // Holds begun so far.
    int holds = 0;

    static void onPort(jack_port_id_t, int, void* self) {
        auto* hold = static_cast<NewsHold*>(self);
        std::unique_lock held(hold->lock);
        if (!hold->armed) return;
        hold->armed = false;
        hold->holdHere(held);
    }
    static void onClient(const char* name, int arrived, void* self) {
        auto* hold = static_cast<NewsHold*>(self);
        std::unique_lock held(hold->lock);
        std::string& awaited = arrived ? hold->arrival : hold->departure;
        if (awaited != name) return;
        awaited.clear();
        hold->holdHere(held);
    }
    void arm() {
        std::lock_guard held(lock);
        armed = true;
    }
    void armFor(std::string name, bool arrived) {
        std::lock_guard held(lock);
        (arrived ? arrival : departure) = std::move(name);
    }
    bool isHolding() {
        std::lock_guard held(lock);
        return holding;
    }
    /// Lets the held thread go and returns once it has left the hold, so that isHolding() then
    /// tells of the next hold only, however late a loaded machine runs that thread.
    void release() {
        std::unique_lock held(lock);
        released = true;
        changed.notify_all();
        // It may be in its next hold already. Bounded for a thread that can never leave: one
        // cancelled inside the hold.
        const int current = holds;
        changed.wait_for(held, std::chrono::seconds(60),
                         [&] { return !holding || holds != current; });
    }

  private:
    void holdHere(std::unique_lock<std::mutex>& held) {
        ++holds;
        holding = true;
        released = false;
        changed.notify_all();
        changed.wait(held, [this] { return released; });
        holding = false;
        changed.notify_all();
    }
};

/// A process callback that counts the cycles into an std::atomic<int>.
inline int countCycle(jack_nframes_t, void* cycles) {
    static_cast<std::atomic<int>*>(cycles)->fetch_add(1);
    return 0;
}

}  // namespace quenbril::test
