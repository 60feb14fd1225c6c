#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/chat/ui/ChatButtonDelegate.h"
#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/chat/ui/SendButtonDelegate.h"
#include "foundation/NotificationCenter.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace quenbril {

class AlertPresenter;
class ChatButton;
class ChatMessage;
class ChatRecipientControl;
class FillView;
class LockView;
class SendButton;

/// The single chat window: the message table with its own filters (check boxes kept in
/// "chatSettings"), one column of quick-message buttons (the user setting `chatMacroCount`,
/// sent with one click or with F1 to F8), a recipient control ("All" or one other user) and a
/// text field with a Send button. Nothing in the application opens it: its chat window is
/// `ChatSplitViewController`. Main thread only.
class ChatViewController : public QWidget, public SendButtonDelegate, public ChatButtonDelegate {
  public:
    /// The column ids of the table, in order.
    enum Column { kTimeColumn = 0, kSourceColumn = 1, kMessageColumn = 2 };

    /// `services`: the chat users, the user's settings and the strips' channel names.
    explicit ChatViewController(const ChatServices& services, QWidget* parent = nullptr);
    ~ChatViewController() override;

    void viewDidLoad();
    void viewDidAppear();
    void viewWillDisappear();
    /// Where a failed save of the filters is reported (not owned; none logs it).
    void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }

    /// Makes the quick-message buttons anew: `chatMacroCount` of them (at most 8) in one
    /// column, the slots 8 - N to 7 from the bottom up.
    void configureButtons();
    /// Sets the text of the button `slot` places above the lowest one.
    void updateButtonText(const std::string& text, int slot);
    /// Gives the recipient control "All" and one segment per other chat user. The chosen
    /// recipient stays chosen while listed; when that user has left, "All" is chosen and the
    /// window says so until a recipient is chosen or that user is listed again.
    void updateClients();
    void reloadData();
    void scrollToEnd();
    /// Covers the window and hides its buttons, or gives them back. The window also follows
    /// the lock's notification while it is on screen.
    void lock(bool locked);

    void saveSettings();
    void loadSettings();
    bool showUserMes() const;
    bool showSnaps() const;
    bool showAlerts() const;
    bool showMessage(const ChatMessage& message) const;
    void updateWindowLevel();

    /// Sends the field's text to the chosen recipient (nothing while locked).
    void sendClicked();
    void sendClicked(SendButton& button) override;
    /// Sends the text of the button labelled F`key` (nothing when there is none).
    void sendKey(int key);
    std::string recipient() const override;

    /// The messages the table shows, in store order.
    const std::vector<std::shared_ptr<ChatMessage>>& visibleMessages() const { return rows_; }
    /// The text of a cell of the table.
    static std::string cellText(const ChatMessage& message, Column column);

    QTableWidget* tableView() const { return tableView_; }
    QWidget* buttonView() const { return buttonView_; }
    const std::vector<ChatButton*>& chatButtons() const { return chatButtons_; }
    QLineEdit* textField() const { return textField_; }
    ChatRecipientControl* chatTarget() const { return chatTarget_; }
    /// Says that the chosen recipient left and messages go to "All"; hidden otherwise.
    QLabel* recipientNotice() const { return recipientNotice_; }
    QCheckBox* onTop() const { return onTop_; }
    QCheckBox* userMes() const { return userMes_; }
    QCheckBox* snaps() const { return snaps_; }
    QCheckBox* alerts() const { return alerts_; }
    SendButton* sendButton() const { return sendButton_; }
    LockView* lockView() const { return lockView_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildLayout();
    void configureLayout();
    void placeButtons();
    int rowHeight(const ChatMessage& message) const;
    void post(const std::string& text);

    ChatServices services_;
    QTableWidget* tableView_;
    QWidget* buttonView_;
    QLineEdit* textField_;
    ChatRecipientControl* chatTarget_;
    QLabel* recipientNotice_;
    /// The recipient the notice says has left; empty before any has.
    std::string leftRecipient_;
    QWidget* sendView_;
    FillView* divider1_;
    FillView* divider2_;
    QCheckBox* onTop_;
    QCheckBox* userMes_;
    QCheckBox* snaps_;
    QCheckBox* alerts_;
    SendButton* sendButton_ = nullptr;
    LockView* lockView_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;
    std::vector<ChatButton*> chatButtons_;
    std::vector<std::shared_ptr<ChatMessage>> rows_;
    bool appeared_ = false;
    NotificationObserver buttonsChangedObserver_;
    NotificationObserver lockObserver_;
};

}  // namespace quenbril
