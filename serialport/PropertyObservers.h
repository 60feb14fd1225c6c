#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace quenbril {

/// Callbacks told that a named property changed: the serial layer's stand-in for key-value
/// observation. Owners call notify() on the main thread, so observers run there.
class PropertyObservers {
  public:
    using Callback = std::function<void(const std::string& property)>;

    /// An id for remove(), never 0.
    int add(Callback callback);
    void remove(int id);
    /// Calls every observer, in the order they were added, on the calling thread.
    void notify(const std::string& property);

  private:
    std::mutex mutex_;
    std::map<int, Callback> callbacks_;
    int nextId_ = 1;
};

}  // namespace quenbril
