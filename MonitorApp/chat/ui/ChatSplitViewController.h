#pragma once

#include <QSize>
#include <QSplitter>
#include <memory>

#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/chat/ui/ChatTableViewControllerDelegate.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

class ChatButtonViewController;
class ChatTableViewController;

/// The chat window: the message pane beside the quick-message pane, which the message pane's
/// expand/collapse button hides and shows again at the divider it had. It floats above other
/// windows unless the chat settings say otherwise, and keeps its frame from one opening to the
/// next. Closing it posts "ChatWindowClosed", so the main window lets go of its panes.
///
/// Made by the main window's "showSplit" segue, owned through shared pointers: the panes the
/// main window keeps (firstChild, lastChild) keep the whole window. Main thread only.
class ChatSplitViewController : public QSplitter,
                                public ChatSplit,
                                public ChatTableViewControllerDelegate,
                                public std::enable_shared_from_this<ChatSplitViewController> {
  public:
    /// The frame's name in the user defaults.
    static constexpr const char* kFrameName = "chatSplitWindowAutoSave2";
    /// The window's size while no frame of an earlier opening fits.
    static constexpr QSize kDefaultSize{720, 480};
    /// The quick-message pane's width while shown.
    static constexpr int kButtonsWidth = 150;

    /// `services`: what the panes read. `alerts`: where the message pane asks before it
    /// deletes a message. Not owned.
    explicit ChatSplitViewController(const ChatServices& services,
                                     AlertPresenter* alerts = nullptr);
    ~ChatSplitViewController() override;

    /// Puts the window where it was last, shows it and runs viewDidAppear.
    void show() override;
    /// Links the panes, follows "SettingsChanged" and applies the window level.
    void viewDidAppear();
    /// Stops following the settings and keeps the frame.
    void viewWillDisappear();

    /// From the message pane: shows (true) or collapses the quick-message pane.
    void expandCollapseClicked(bool expand) override;
    /// The panes changed size: the quick messages lay their buttons out again.
    void splitViewDidResizeSubviews();
    /// The preferences changed: the window level, the fonts and the filters.
    void settingsChanged();
    /// Stays on top unless "chatSettings" holds an "onTop" of 0.
    void updateWindowLevel();
    bool floatsOnTop() const;
    /// The divider's place kept while the quick-message pane is collapsed.
    float divPos() const { return divPos_; }

    std::shared_ptr<ChatTable> firstChild() override;
    std::shared_ptr<ChatButtons> lastChild() override;
    ChatTableViewController* tableController() const { return table_; }
    ChatButtonViewController* buttonController() const { return buttons_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    /// What keeps this window alive for a firstChild or lastChild: itself when shared pointers
    /// own it, else nothing.
    std::shared_ptr<void> owner();

    ChatServices services_;
    ChatTableViewController* table_ = nullptr;
    ChatButtonViewController* buttons_ = nullptr;
    float divPos_ = 0;
    bool appeared_ = false;
    NotificationObserver settingsObserver_;
};

}  // namespace quenbril
