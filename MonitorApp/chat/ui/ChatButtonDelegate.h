#pragma once

#include <string>

namespace quenbril {

/// Supplies a quick-message button with the recipient its text goes to.
class ChatButtonDelegate {
  public:
    virtual ~ChatButtonDelegate() = default;
    /// The chosen recipient; empty sends to "All".
    virtual std::string recipient() const { return {}; }
};

}  // namespace quenbril
