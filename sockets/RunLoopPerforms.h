#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace quenbril {

class CancelToken;
class RunLoop;

/// The "perform after a delay of 0" of a run-loop socket: tasks posted to its loop that the
/// socket can cancel all at once (when it moves, changes modes, closes or goes away). Use on the
/// socket's thread.
class RunLoopPerforms {
  public:
    RunLoopPerforms() = default;
    RunLoopPerforms(const RunLoopPerforms&) = delete;
    RunLoopPerforms& operator=(const RunLoopPerforms&) = delete;
    ~RunLoopPerforms();

    /// Posts `task` to `loop`; it runs on a later pass unless cancelled before.
    void perform(RunLoop& loop, std::function<void()> task);
    /// Cancels every task posted and not yet run.
    void cancelAll();

  private:
    std::vector<std::shared_ptr<CancelToken>> pending_;
};

}  // namespace quenbril
