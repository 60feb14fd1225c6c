#pragma once

#include <functional>

#include "foundation/DescriptorWatch.h"

namespace quenbril {

/// Ends the run as Quit does when the session asks the program to stop (SIGTERM at logout,
/// SIGHUP, or Ctrl-C in a terminal), so that the window's state is saved then too. The signals
/// are read from a descriptor on the main run loop, never handled on a signal stack.
class QuitOnSignals {
  public:
    /// Blocks the signals for the calling thread and every thread it makes later: call it
    /// first in main, before any thread exists.
    static void blockSignals();

    /// From now on each of the signals runs `quit` on the main run loop.
    explicit QuitOnSignals(std::function<void()> quit);
    ~QuitOnSignals();
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    int fd_ = -1;
    DescriptorWatch watch_;
};

}  // namespace quenbril
