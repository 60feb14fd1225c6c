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
/// started are skipped. The jobs that close or free what the library holds are the exception to
/// both: they are queued however stuck the worker is, and run however late, in order with the
/// jobs queued before them. The thread is never joined, so a job
/// that never returns holds up neither the owner's destruction nor the process's end.
///
/// A job may run past its call: it must own (capture by value) everything it touches.
class BoundedWorker {
  public:
    /// `name` names the thread and the log lines; `stuckText` says what does not answer ("the
    /// JACK library does not answer"), maybe with its likely causes in a few words, for the log
    /// and for the user; `why` adds, for the log, what may have caused it or what clears it.
    BoundedWorker(std::string name, std::string stuckText, double limit, std::string why = {});
    ~BoundedWorker();
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;

    /// Runs `job` on the worker; true when it ran to its end within the limit. On the worker's
    /// own thread the job runs at once. A job that was queued is destroyed on the worker, never
    /// on the caller (what it owns may block in its destructor); one refused while the worker is
    /// stuck is left in `job`, untouched, for the caller to keep or let go.
    bool run(std::function<void()>&& job);

    /// Runs `job` on the worker however late: it is queued even while the worker is stuck and is
    /// never skipped, so it runs once the worker answers, after every job queued before it (on
    /// the worker's own thread it runs at once, as run() does). For work that closes or frees
    /// what the library holds, which must be neither dropped nor done on the caller. Waits for it
    /// at most the limit, and not at all while the worker is stuck; true when it ran to its end
    /// within the limit.
    bool runEvenLate(std::function<void()> job);

    /// Queues `job` as runEvenLate() does, without waiting for it.
    void post(std::function<void()> job);

    /// The job's result, or nothing when it did not return in time.
    template <class T>
    std::optional<T> call(std::function<T()> job) {
        auto result = std::make_shared<std::optional<T>>();
        std::function<void()> work = [job = std::move(job), result] { *result = job(); };
        switch (submit(std::move(work), false, true)) {
            case Outcome::Done:
                return std::move(*result);
            case Outcome::Late:
                // A result that comes late may own what the library made (a stream opened after
                // its caller gave up): whoever lets go of it last, it is freed on the worker.
                post([result = std::move(result)] {});
                return std::nullopt;
            case Outcome::Refused:
                break;
        }
        return std::nullopt;
    }

    /// True from a call that overran until that job returned.
    bool isStuck() const;
    bool isWorkerThread() const;
    /// What does not answer while the worker is stuck, as the log says it.
    const std::string& stuckText() const;
    double limit() const { return limit_.load(); }
    /// A new limit for the calls that follow.
    void setLimit(double limit) { limit_.store(limit); }

    /// Three seconds, stretched like the other real-time limits in the slower builds.
    static double defaultLimit();

  private:
    struct State;
    enum class Outcome { Done, Late, Refused };

    /// Queues `job` (left untouched in it when refused) and waits for it when `wait` is set.
    /// A job that must run is queued even while the worker is stuck and never skipped.
    Outcome submit(std::function<void()>&& job, bool mustRun, bool wait);

    std::shared_ptr<State> state_;
    std::atomic<double> limit_;
};

}  // namespace quenbril
