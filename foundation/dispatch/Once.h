#pragma once

#include <mutex>
#include <utility>

namespace quenbril::dispatch {

/// Runs a function once per Once object, whatever the number of threads calling; callers that
/// arrive meanwhile wait until it has finished.
class Once {
  public:
    template <class F>
    void call(F&& f) {
        std::call_once(flag_, std::forward<F>(f));
    }

  private:
    std::once_flag flag_;
};

}  // namespace quenbril::dispatch
