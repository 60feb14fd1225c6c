#pragma once

#include <optional>
#include <string>

namespace quenbril {

/// Receives every text message of the peer link, on the main queue.
class MCManagerDelegate {
  public:
    virtual ~MCManagerDelegate() = default;
    /// The message's text; none when its bytes are not valid UTF-8.
    virtual void messageReceived(const std::optional<std::string>& text) = 0;
};

}  // namespace quenbril
