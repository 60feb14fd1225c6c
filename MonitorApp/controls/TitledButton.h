#pragma once

#include <string>

namespace quenbril {

/// An image button with a title (the header's "Reset", "Solo clear", "Snaps", "Chat", "A"/"B").
class TitledButton {
  public:
    virtual ~TitledButton() = default;
    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
};

}  // namespace quenbril
