#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace quenbril::dispatch {

/// The one epoll thread of the process: it watches descriptors for the dispatch sources and keeps
/// the real-time timers. Callbacks run on that thread and must only hand work on (signal a source,
/// submit to a queue). Made on first use, kept until exit.
class Reactor {
  public:
    using Callback = std::function<void()>;

    static Reactor& shared();
    /// CLOCK_MONOTONIC in seconds.
    static double monotonicNow();

    /// Registers interest in `fd` becoming readable (or writable), disarmed. Answers an id, never
    /// 0.
    uint64_t addDescriptor(int fd, bool write, Callback ready);
    /// Arms a registration for one event: `ready` runs once when the condition holds, then the
    /// registration is disarmed until armed again. Unknown (removed) ids are ignored.
    void arm(uint64_t id);
    /// Forgets a registration; `ready` is not called for events seen after this returns.
    void removeDescriptor(uint64_t id);

    /// Calls `fire` once at `deadline` (monotonic seconds). Answers an id, never 0.
    uint64_t addTimer(double deadline, Callback fire);
    void removeTimer(uint64_t id);

    Reactor();
    ~Reactor();

  private:
    struct Registration {
        int fd;
        bool write;
        Callback ready;
    };
    struct Interest {
        uint64_t readId = 0;
        uint64_t writeId = 0;
        bool readArmed = false;
        bool writeArmed = false;
        bool registered = false;
    };
    struct TimerEntry {
        double deadline;
        Callback fire;
    };

    void run();
    void updateInterest(int fd, Interest& interest);  // mutex_ held
    void rearmTimerFd();                              // mutex_ held
    void handleTimers();

    std::mutex mutex_;
    int epoll_ = -1;
    int timerFd_ = -1;
    uint64_t nextId_ = 1;
    std::map<uint64_t, Registration> registrations_;
    std::map<int, Interest> interests_;
    std::map<uint64_t, TimerEntry> timers_;
    std::multimap<double, uint64_t> deadlines_;
    double armedDeadline_ = -1;
    std::thread thread_;
};

}  // namespace quenbril::dispatch
