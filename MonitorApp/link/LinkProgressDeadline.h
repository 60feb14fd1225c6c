#pragma once

#include <optional>

namespace quenbril {

/// The time-out of a socket read or write on the link, counted from the last bytes it moved
/// rather than from its start: a frame that keeps arriving over a slow link is never cut off,
/// one that stops moving is, `timeout` seconds after its last bytes.
///
/// The owner reports progress (the socket's partial-read or partial-write callbacks) and
/// answers the socket's time-out question with extension(). Real time, as the socket's own
/// timers; one thread (the socket's delegate queue).
class LinkProgressDeadline {
  public:
    explicit LinkProgressDeadline(double timeout) : timeout_(timeout) {}

    void setTimeout(double timeout) { timeout_ = timeout; }
    double timeout() const { return timeout_; }
    /// Bytes moved now.
    void progressed();
    /// The socket's time-out ran out: the seconds left until `timeout` after the last
    /// progress, or nothing (let it expire) when that has passed or there was none.
    std::optional<double> extension() const;

  private:
    double timeout_;
    std::optional<double> lastProgress_;
};

}  // namespace quenbril
