#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "MonitorApp/chat/ui/ChatButtonDelegate.h"
#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

class QComboBox;

namespace quenbril {

class ChatButton;
class LockView;

/// The chat window's quick-message pane: eight buttons that each send a prepared text with one
/// click to the recipient chosen in the chat window. The buttons fill the pane two a row,
/// upwards from the bottom edge. Main thread only.
class ChatButtonViewController : public QWidget, public ChatButtons, public ChatButtonDelegate {
  public:
    /// The pane's width while shown (0 collapsed).
    static constexpr int kShownWidth = 150;

    /// `services`: the settings (lock, button size, sender) and the strips' channel names.
    explicit ChatButtonViewController(const ChatServices& services, QWidget* parent = nullptr);
    ~ChatButtonViewController() override;

    void viewDidLoad();
    void viewDidAppear();
    void viewWillDisappear();
    /// The chat window's recipient pop-up (not owned; cleared before it goes).
    void setChatTargetRef(QComboBox* target) { chatTargetRef_ = target; }
    /// Lays the buttons out for the pane's size.
    void resizeButtons();
    /// Makes the eight buttons anew, with their texts.
    void addButtons();
    /// The stored texts changed: every button reads its text again, the first one the channel
    /// clicked last.
    void chatMessagesChanged();
    /// A window changed its size.
    void screenResize();

    /// The key F`key` (1 to 8): sends the button labelled with it, as a click would; nothing
    /// while the pane is locked.
    void sendKey(int key);

    void updateButtonText(const std::string& text) override;
    void lock(bool locked) override;
    std::string recipient() const override;

    /// The buttons, index = slot.
    const std::vector<ChatButton*>& chatButtons() const { return chatButtons_; }
    /// The area the buttons fill.
    QWidget* buttonView() const { return buttonView_; }
    LockView* lockView() const { return lockView_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    ChatServices services_;
    QComboBox* chatTargetRef_ = nullptr;
    QWidget* buttonView_;
    LockView* lockView_ = nullptr;
    std::vector<ChatButton*> chatButtons_;
    bool locked_ = false;
    bool appeared_ = false;
    NotificationObserver messagesChangedObserver_;
};

}  // namespace quenbril
