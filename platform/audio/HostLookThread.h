#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace quenbril {

/// Looks at a sound host on a thread of its own whenever it may have changed, so that no caller
/// waits on the look: every `interval` seconds it reads the host's sign (something cheap that
/// changes with it, such as a server socket's identity) and, when the sign differs from the one
/// it last looked at (at first `lookedAt`), runs `look`.
class HostLookThread {
  public:
    HostLookThread(uint64_t lookedAt, std::function<uint64_t()> sign,
                   std::function<void(uint64_t sign)> look, double interval = 0.5);
    ~HostLookThread();
    HostLookThread(const HostLookThread&) = delete;
    HostLookThread& operator=(const HostLookThread&) = delete;

  private:
    void run();

    std::function<uint64_t()> sign_;
    std::function<void(uint64_t)> look_;
    const double interval_;
    uint64_t looked_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quenbril
