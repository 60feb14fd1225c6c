#pragma once

namespace quenbril {

class SendButton;

/// Told of a click on a chat window's Send, Flash or expand/collapse button.
class SendButtonDelegate {
  public:
    virtual ~SendButtonDelegate() = default;
    virtual void sendClicked(SendButton& /*button*/) {}
};

}  // namespace quenbril
