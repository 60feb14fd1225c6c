#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "foundation/DescriptorWatch.h"
#include "foundation/Timer.h"

namespace quenbril {

/// An event loop bound to one thread: tasks posted from any thread, timers and watched descriptors
/// all run on that thread. The application's main loop is Qt's event loop (QtRunLoop); tests use
/// ManualRunLoop, whose clock is virtual. The rest of the code reaches the main thread only through
/// RunLoop::main() (or the main dispatch queue, which posts to it).
class RunLoop {
  public:
    enum class Condition { Readable, Writable };

    /// The main loop: the one installed with setMain, else a ManualRunLoop made on demand (bound
    /// to the process's main thread until a thread runs it). There is one such loop in the process,
    /// never destroyed: each time it becomes the main loop again it is fresh (nothing posted,
    /// scheduled or watched, its clock set to now), and what it holds when another loop is
    /// installed or the slot reset is dropped, never run.
    static RunLoop& main();
    /// The application installs its Qt loop; a test its ManualRunLoop. nullptr resets, so that the
    /// next main() gives a fresh ManualRunLoop. The caller keeps an installed loop alive until it
    /// is replaced, and makes sure no other thread still posts to it.
    static void setMain(RunLoop* loop);
    /// Any thread: posts to the main loop while it cannot be replaced or go away (a loop resigns
    /// as main before it is destroyed), so a worker posting as a test or the application ends
    /// never reaches a loop that is gone.
    static void postToMain(std::function<void()> task);

    /// Seconds since 2001-01-01 00:00:00 UTC by the system clock.
    static double realTimeNow();

    RunLoop();
    virtual ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    /// Any thread. Tasks run on the loop's thread in the order they were posted.
    virtual void post(std::function<void()> task) = 0;

    /// Seconds since 2001-01-01 (virtual time in ManualRunLoop).
    virtual double now() const = 0;

    /// Any thread; fires on the loop's thread after `interval` seconds of the loop's clock, then
    /// every `interval` when repeating (a repeating interval is at least 0.1 ms).
    [[nodiscard]] virtual Timer scheduleTimer(double interval, bool repeats,
                                              std::function<void()> fire) = 0;

    /// Calls `ready` on the loop's thread whenever `fd` is readable (or writable); level-triggered,
    /// so the callback must read (or write) or cancel. Call on the loop's thread.
    [[nodiscard]] virtual DescriptorWatch watchDescriptor(int fd, Condition condition,
                                                          std::function<void()> ready) = 0;

    /// Runs `task` once after `delay` seconds of the loop's clock; it cannot be cancelled.
    void after(double delay, std::function<void()> task);

    /// True on the thread that runs this loop.
    bool isCurrentThread() const;

  protected:
    /// The interval a timer asked for with `interval` runs at: 0 for a negative or NaN one, the
    /// largest double for an infinite one, at least 0.1 ms when repeating.
    static double timerInterval(double interval, bool repeats);
    void setThread(std::thread::id id) { thread_.store(id, std::memory_order_release); }
    /// Uninstalls this loop when it is the main one; loops call it first thing when destroyed.
    void resignMain();

  private:
    static RunLoop& mainLocked(std::shared_ptr<void>& dropped);

    std::atomic<std::thread::id> thread_;
};

}  // namespace quenbril
