#pragma once

#include <memory>

#include "foundation/CancelToken.h"

namespace quenbril {

/// Move-only handle of a timer scheduled on a run loop; destroying it or invalidate() cancels the
/// timer. A one-shot timer becomes invalid once it has fired. An empty (default) handle is invalid.
class Timer {
  public:
    Timer() = default;
    explicit Timer(std::shared_ptr<CancelToken> token) : token_(std::move(token)) {}
    Timer(Timer&& other) noexcept = default;
    /// Cancels the timer this handle held before taking the other's.
    Timer& operator=(Timer&& other) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

    /// Stops the timer; it never fires after this returns when called on the loop's thread. Any
    /// thread may call it.
    void invalidate();
    bool isValid() const;

  private:
    std::shared_ptr<CancelToken> token_;
};

}  // namespace quenbril
