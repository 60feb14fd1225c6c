#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quenbril {

/// A thread of its own for calls into a library that may never return: libjack waits for ever
/// on its shared store when a client died inside an open and left it locked. Each call waits for
/// its job at most `limit` seconds. A job that overruns leaves the worker stuck: later calls fail
/// at once, queueing nothing, until the stuck job returns. Jobs whose callers gave up before they
/// started are skipped. The thread is never joined, so a job that never returns holds up neither
/// the owner's destruction nor the process's end.
///
/// A job may run past its call: it must own (capture by value) everything it touches.
class BoundedWorker {
  public:
    /// `name` names the thread and the log lines; `stuckText` says, for the log, what does not
    /// answer ("the JACK library does not answer"), and `why` what may have caused it.
    BoundedWorker(std::string name, std::string stuckText, double limit, std::string why = {});
    ~BoundedWorker();
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;

    /// Runs `job` on the worker; true when it ran to its end within the limit. On the worker's
    /// own thread the job runs at once. A job that was queued is destroyed on the worker, never
    /// on the caller (what it owns may block in its destructor); one refused while the worker is
    /// stuck is left in `job`, untouched, for the caller to keep or let go.
    bool run(std::function<void()>&& job);

    /// The job's result, or nothing when it did not return in time.
    template <class T>
    std::optional<T> call(std::function<T()> job) {
        // A job that returns late writes a result no one reads any more.
        auto result = std::make_shared<std::optional<T>>();
        std::function<void()> work = [job = std::move(job), result] { *result = job(); };
        if (!run(std::move(work))) return std::nullopt;
        return std::move(*result);
    }

    /// True from a call that overran until that job returned.
    bool isStuck() const;
    bool isWorkerThread() const;
    /// What the log says does not answer while the worker is stuck.
    const std::string& stuckText() const;
    double limit() const { return limit_.load(); }
    /// A new limit for the calls that follow.
    void setLimit(double limit) { limit_.store(limit); }

    /// Three seconds, stretched like the other real-time limits in the slower builds.
    static double defaultLimit();

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::atomic<double> limit_;
};

}  // namespace quenbril
