#pragma once

#include <memory>

#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

class ChatSplitViewController;

/// The maker of the main window's "showSplit" segue: one chat window at a time. While the chat
/// window is shown, opening it again brings it to the front and makes no new one, so the panes
/// the main window keeps are always those on screen. Copies share the window they opened.
class ChatWindowOpener {
  public:
    /// `services`: what the chat window reads. `alerts`: where the chat window asks before
    /// deleting. Not owned.
    explicit ChatWindowOpener(const ChatServices& services, AlertPresenter* alerts = nullptr);

    /// A new chat window, or none when one is shown (which then comes to the front).
    std::shared_ptr<SegueDestination> operator()() const;
    /// The chat window on screen; none while none is shown.
    std::shared_ptr<ChatSplitViewController> shownWindow() const;

  private:
    ChatServices services_;
    AlertPresenter* alerts_;
    std::shared_ptr<std::weak_ptr<ChatSplitViewController>> window_;
};

}  // namespace quenbril
