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
/// socket before it answers: for kStartingFor after a socket's first refusal it is tried again
/// kStartingWait after each, and only then less and less often, each refusal in a row doubling
/// the wait from kFirstWait up to kLongestWait. Another socket starts afresh. The caller gives
/// the time.
class RefusedSocketBackoff {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kStartingFor = std::chrono::seconds(5);
    static constexpr Clock::duration kStartingWait = std::chrono::milliseconds(250);
    static constexpr Clock::duration kFirstWait = std::chrono::seconds(1);
    static constexpr Clock::duration kLongestWait = std::chrono::seconds(30);

    bool worthTrying(const SocketIdentity& socket, Clock::time_point now) const;
    /// Whether `socket` refused, but not yet long enough for its waits to reach kLongestWait: a
    /// server slow to start (its device still busy, the machine loaded) may yet answer on it.
    bool mayBeStarting(const SocketIdentity& socket) const;
    /// After an open on `socket` failed at `now`.
    void refused(const SocketIdentity& socket, Clock::time_point now);
    /// After an open reached a server, or failed with no socket there.
    void forget();

  private:
    std::optional<SocketIdentity> socket_;
    Clock::time_point firstRefusal_{};
    /// The last of the doubling waits; zero in the socket's first kStartingFor.
    Clock::duration wait_{};
    Clock::time_point retryAt_{};
};

}  // namespace quenbril
