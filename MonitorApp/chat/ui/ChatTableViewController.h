#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/chat/ui/RecipientPopUp.h"
#include "MonitorApp/chat/ui/SendButtonDelegate.h"
#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

class QLabel;
class QLineEdit;
class QTableView;

namespace quenbril {

class ChatTableModel;
class ChatTableViewControllerDelegate;
class LongPressWatcher;
class SendButton;

/// The chat window's message pane: the table of the stored messages its filters show, the text
/// field, the recipient pop-up ("All" and every other chat user) and the Send, Flash and
/// expand/collapse buttons. Send and Return post a text message, Flash a page, each as a
/// "ChatMessage" for the main window to send; a message the main window could not send keeps
/// its text in the field, and the pane's status says it was not sent until the server is here
/// again or a message goes. A long press on one of the user's own messages offers to delete it;
/// while the server is away the deletion is not made and the status says so. The table lays out
/// only the rows it shows (a row's height takes the layout of its whole text). Covered by the
/// lock like every lockable panel. Main thread only.
class ChatTableViewController : public LockableViewController,
                                public ChatTable,
                                public SendButtonDelegate {
  public:
    /// `services`: the chat users, the senders' colours and the user's settings.
    explicit ChatTableViewController(const ChatServices& services, QWidget* parent = nullptr);
    ~ChatTableViewController() override;

    /// The buttons, the table's look and the lock cover.
    void viewDidLoad() override;
    /// Rebuilds the recipient pop-up, follows "RefreshChat" and scrolls to the newest row.
    void viewDidAppear();
    /// Stops following the store's notifications.
    void viewWillDisappear();

    // ---- The main window's side ----
    void reloadData() override;
    void scrollToEnd() override;
    /// "All", then every chat user but this one, in the server's order. The chosen recipient
    /// stays chosen while that user is listed; when the user has left, "All" is chosen and the
    /// pane says so (a private message must not go to everyone unasked) until a recipient is
    /// chosen or that user is listed again.
    void updateClients() override;
    /// Covers the pane (true) or uncovers it.
    void lock(bool locked) override;

    // ---- Actions ----
    /// Send, Flash or expand/collapse.
    void sendClicked(SendButton& button) override;
    /// The Return key in the text field: sends as Send does, unless the field is empty.
    void returnPressed();
    /// The recipient pop-up's choice is kept as the user's `chatReceiver`.
    void recipientChanged(int index);
    /// The store changed under the table.
    void refresh();
    /// Asks whether to delete the user's own message `messageId` (whose text is `text`) and on
    /// "Delete" removes it from the chat; while the server is away nothing changes and the
    /// status says the deletion was not sent. A message without an id offers nothing.
    void removeMessage(const std::optional<std::string>& messageId, const std::string& text);

    int numberOfRows() const;
    /// The visible message at `row`; none past the rows.
    std::shared_ptr<ChatMessage> messageAtRow(int row) const;
    /// The chat text's point size for the user's `chatFontSize` (0: the system font's own).
    int fontSize() const;

    void setDelegate(ChatTableViewControllerDelegate* delegate) { delegate_ = delegate; }
    ChatTableViewControllerDelegate* delegate() const { return delegate_; }
    /// Where the delete question is asked; without one nothing is deleted. Not owned.
    void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }

    QTableView* tableView() const { return tableView_; }
    ChatTableModel* model() const { return model_; }
    QLineEdit* textField() const { return textField_; }
    /// "Not sent: ..." under the table after a message (or a deletion) that was not sent;
    /// hidden otherwise.
    QLabel* sendStatus() const { return sendStatus_; }
    /// Says that the chosen recipient left and messages go to "All", until a recipient is
    /// chosen or that user is back; hidden otherwise.
    QLabel* recipientNotice() const { return recipientNotice_; }
    RecipientPopUp* chatTarget() const { return chatTarget_; }
    SendButton* sendButton() const { return sb_; }
    SendButton* flashButton() const { return fb_; }
    SendButton* expandButton() const { return eb_; }

  protected:
    /// The table's viewport: a new height shows other rows, which are measured.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    /// What a press on an own message carries to the delete question: taken at the press, so
    /// that rows arriving meanwhile cannot change which message it names.
    struct PressedMessage {
        std::optional<std::string> messageId;
        std::string text;
    };

    void buildViews();
    /// Sends the field's text: from the Send button or the Return key (no button) as a text
    /// message, from the Flash button as a page.
    void sendMessage(const SendButton* button);
    void toggleQuickMessagePane();
    /// A chat message of this station was not sent.
    void messageNotSent(const Dictionary& message);
    /// Gives every row measured at the column's width its height, then measures the rows
    /// shown.
    void applyRowHeights();
    /// Measures the rows the viewport shows: from the end up while the table shows its end,
    /// else from the top row down. Rows above the top row keep their heights, so what is shown
    /// stays where it is.
    void measureShownRows();
    void showSendStatus(const char* text);
    /// Wide enough for every time of day the locale writes.
    int timeColumnWidth() const;
    bool pressBegan(const QPoint& point);

    std::string chatUsername() const;

    ChatServices services_;
    QTableView* tableView_ = nullptr;
    ChatTableModel* model_ = nullptr;
    QLineEdit* textField_ = nullptr;
    QLabel* sendStatus_ = nullptr;
    QLabel* recipientNotice_ = nullptr;
    /// The recipient the notice says has left.
    QString leftRecipient_;
    RecipientPopUp* chatTarget_ = nullptr;
    SendButton* sb_ = nullptr;
    SendButton* fb_ = nullptr;
    SendButton* eb_ = nullptr;
    LongPressWatcher* longPress_ = nullptr;
    std::optional<PressedMessage> pressed_;
    // Whether the table shows its end, where it stays as the rows' heights change.
    bool atEnd_ = true;
    bool measuring_ = false;
    ChatTableViewControllerDelegate* delegate_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;
    std::vector<NotificationObserver> observers_;
    NotificationObserver notSentObserver_;
    NotificationObserver serverHereObserver_;
    /// The id of the message the field's text went out as, until it is known to be not sent.
    std::optional<std::string> sending_;
};

}  // namespace quenbril
