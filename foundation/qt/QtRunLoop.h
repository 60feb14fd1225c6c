#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

#include "foundation/RunLoop.h"

class QObject;
class QThread;

namespace quenbril {

/// The application's main loop: Qt's event loop. Make it on the QCoreApplication's thread once
/// the application object exists, install it with RunLoop::setMain, and run the application.
/// Its clock is real time.
///
/// Posted tasks run in order, in turns of Qt's loop: a turn runs every task waiting, those the
/// tasks post included, until none is left or kTurnBudget has passed; then Qt's own events
/// (input, timers, painting) have theirs. A chain of tasks (a socket's read done, its delegate
/// asking for the next read) so goes on within one turn instead of taking one per step, and a
/// main loop that paints slowly still keeps up with its input.
class QtRunLoop : public RunLoop {
  public:
    /// How long one turn runs tasks while more are waiting.
    static constexpr std::chrono::milliseconds kTurnBudget{10};

    QtRunLoop();
    ~QtRunLoop() override;

    void post(std::function<void()> task) override;
    double now() const override;
    [[nodiscard]] Timer scheduleTimer(double interval, bool repeats,
                                      std::function<void()> fire) override;
    [[nodiscard]] DescriptorWatch watchDescriptor(int fd, Condition condition,
                                                  std::function<void()> ready) override;

  private:
    void postTurn();
    void runTasks();
    void startTimer(const std::shared_ptr<CancelToken>& token, double interval, bool repeats,
                    std::function<void()> fire);

    std::unique_ptr<QObject> context_;  // receives the posts; parent of timers and notifiers
    QThread* thread_;
    std::mutex tasksLock_;
    std::deque<std::function<void()>> tasks_;
    /// A turn is posted to Qt's loop and has not begun.
    bool turnPosted_ = false;
};

}  // namespace quenbril
