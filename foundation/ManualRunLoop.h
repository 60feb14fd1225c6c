#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/RunLoop.h"

namespace quenbril {

/// The run loop of the tests. Its clock is virtual: it starts at `startTime` and moves only with
/// advance(), which fires the timers that fall due in order at once (a 5.0 s timer costs no real
/// time). Posted tasks and watched descriptors are served in real time by runPending() and
/// runUntil(). The loop's thread is the one that made it, or the one that last ran it.
///
/// A test installs one as the main loop for its duration:
///     ManualRunLoop loop;  RunLoop::setMain(&loop);  ...  RunLoop::setMain(nullptr);
class ManualRunLoop : public RunLoop {
  public:
    explicit ManualRunLoop(double startTime = RunLoop::realTimeNow());
    ~ManualRunLoop() override;

    void post(std::function<void()> task) override;
    double now() const override;
    [[nodiscard]] Timer scheduleTimer(double interval, bool repeats,
                                      std::function<void()> fire) override;
    [[nodiscard]] DescriptorWatch watchDescriptor(int fd, Condition condition,
                                                  std::function<void()> ready) override;

    /// Moves the virtual clock by `seconds`, firing the timers that fall due in the order of their
    /// fire times (ties in the order they were scheduled), each at its own time; posted tasks run
    /// before the first timer and after each one.
    void advance(double seconds);
    /// Runs posted tasks (also those they post), ready descriptors and timers due at the current
    /// virtual time, without waiting.
    void runPending();
    /// Runs as runPending() and waits in real time for posts and descriptors until `done` answers
    /// true (true) or `realTimeoutSeconds` of real time have passed (false); `done` is asked after
    /// each pass and at least every 10 ms. The virtual clock does not move. The limit is one of a
    /// plain build: a build known to be slower (buildTimeScale()) waits that many times longer.
    bool runUntil(const std::function<bool()>& done, double realTimeoutSeconds);
    /// Serves posts and descriptors as runUntil() does for `realSeconds` of real time, not
    /// stretched: a pause that paces a test against real-time time-outs (a socket's), which a
    /// slower build does not stretch either.
    void runFor(double realSeconds);

    /// Timers still scheduled (valid and not yet fired).
    size_t timerCount() const;

  private:
    friend class RunLoop;
    struct TimerEntry;
    struct WatchEntry;

    /// For the loop RunLoop::main() makes on demand and reuses: takes out the posted tasks, timers
    /// and watches (no longer watched), so that none reaches a later user, and sets the clock to
    /// `startTime`. Returns what was taken, for the caller to release where it holds no lock:
    /// what it holds may post again as it goes.
    std::shared_ptr<void> restart(double startTime);

    bool serveUntil(const std::function<bool()>& done, double realSeconds);
    bool runOneTask();
    bool fireOneDueTimer(double limit);
    void pollDescriptors(int timeoutMs);
    void updateInterest(int fd);
    void bindToCurrentThread();

    mutable std::mutex mutex_;
    double now_;
    uint64_t nextSequence_ = 0;
    std::deque<std::function<void()>> tasks_;
    std::map<uint64_t, std::shared_ptr<TimerEntry>> timers_;
    std::map<uint64_t, std::shared_ptr<WatchEntry>> watches_;
    uint64_t nextWatchId_ = 1;
    int epoll_ = -1;
    int wake_ = -1;
    bool wakePending_ = false;          // the event descriptor was written and not yet read
    std::atomic<bool> running_{false};  // runPending() is under way (set by the loop's thread)
};

}  // namespace quenbril
