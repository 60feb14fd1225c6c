#pragma once

#include <memory>

#include "foundation/RunLoop.h"

class QObject;
class QThread;

namespace quenbril {

/// The application's main loop: Qt's event loop. Make it on the QCoreApplication's thread once
/// the application object exists, install it with RunLoop::setMain, and run the application.
/// Its clock is real time.
class QtRunLoop : public RunLoop {
  public:
    QtRunLoop();
    ~QtRunLoop() override;

    void post(std::function<void()> task) override;
    double now() const override;
    [[nodiscard]] Timer scheduleTimer(double interval, bool repeats,
                                      std::function<void()> fire) override;
    [[nodiscard]] DescriptorWatch watchDescriptor(int fd, Condition condition,
                                                  std::function<void()> ready) override;

  private:
    void startTimer(const std::shared_ptr<CancelToken>& token, double interval, bool repeats,
                    std::function<void()> fire);

    std::unique_ptr<QObject> context_;  // receives the posts; parent of timers and notifiers
    QThread* thread_;
};

}  // namespace quenbril
