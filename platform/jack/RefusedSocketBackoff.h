#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

namespace quenbril {

/// A server's socket file, told apart from a later one made at the same path.
struct SocketIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const SocketIdentity&) const = default;
};

/// When a JACK server's socket that refused an open is worth another. Every open passes through
/// libjack's shared store, which a client that dies inside one leaves locked, so a socket left
/// by a killed server is not tried on every poll. But a server started under load may make its
/// socket before it answers: a socket is tried again soon after its first refusal, and each
/// refusal in a row doubles the wait, up to kLongestWait for one that keeps refusing. Another
/// socket starts afresh. The caller gives the time.
class RefusedSocketBackoff {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kFirstWait = std::chrono::seconds(1);
    static constexpr Clock::duration kLongestWait = std::chrono::seconds(30);

    bool worthTrying(const SocketIdentity& socket, Clock::time_point now) const;
    /// After an open on `socket` failed at `now`.
    void refused(const SocketIdentity& socket, Clock::time_point now);
    /// After an open reached a server, or failed with no socket there.
    void forget();

  private:
    std::optional<SocketIdentity> socket_;
    Clock::duration wait_{};
    Clock::time_point retryAt_{};
};

}  // namespace quenbril
