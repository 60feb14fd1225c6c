#pragma once

namespace quenbril {

/// Told when the message pane's expand/collapse button asks to show or hide the quick-message
/// pane.
class ChatTableViewControllerDelegate {
  public:
    virtual ~ChatTableViewControllerDelegate() = default;
    /// `expand`: true to show the quick-message pane, false to collapse it.
    virtual void expandCollapseClicked(bool /*expand*/) {}
};

}  // namespace quenbril
