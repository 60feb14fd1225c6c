#include "MonitorApp/chat/ui/ChatTableViewController.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/UUIDString.h"
#include "MonitorApp/chat/ui/ChatTableModel.h"
#include "MonitorApp/chat/ui/ChatTableViewControllerDelegate.h"
#include "MonitorApp/chat/ui/LongPressWatcher.h"
#include "MonitorApp/chat/ui/RecipientName.h"
#include "MonitorApp/chat/ui/SendButton.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/ReadableTextDelegate.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr int kButtonWidth = 64;
constexpr int kButtonHeight = 30;
constexpr int kSourceColumnWidth = 120;
constexpr const char* kAllRecipients = "All";
constexpr const char* kNotSentText = "Not sent: not connected to the server.";
constexpr const char* kDeleteNotSentText = "Delete not sent: not connected to the server.";

}  // namespace

ChatTableViewController::ChatTableViewController(const ChatServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    buildViews();
    viewDidLoad();
    notSentObserver_ =
        services_.center.addObserver(ChatNotification::kChatMessageNotSent,
                                     [this](const Notification& n) { messageNotSent(n.userInfo); });
    // What was not sent may go now: the words would otherwise stay for as long as the window.
    serverHereObserver_ = services_.center.addObserver(
        ChatNotification::kChatServerIsHere, [this](const Notification&) { sendStatus_->hide(); });
}

ChatTableViewController::~ChatTableViewController() {
    for (SendButton* button : {sb_, fb_, eb_}) button->setDelegate(nullptr);
}

void ChatTableViewController::buildViews() {
    model_ = new ChatTableModel(services_, this);
    tableView_ = new QTableView(this);
    tableView_->setObjectName("tableView");
    tableView_->setModel(model_);
    // No selection highlight: the rows are read, not chosen.
    tableView_->setSelectionMode(QAbstractItemView::NoSelection);
    tableView_->setFocusPolicy(Qt::NoFocus);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setWordWrap(true);
    tableView_->setShowGrid(false);
    tableView_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    tableView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableView_->verticalHeader()->hide();
    tableView_->verticalHeader()->setMinimumSectionSize(1);
    tableView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* columns = tableView_->horizontalHeader();
    columns->hide();
    columns->setMinimumSectionSize(1);
    columns->resizeSection(ChatTableModel::kTimeColumn, timeColumnWidth());
    columns->resizeSection(ChatTableModel::kSourceColumn, kSourceColumnWidth);
    columns->setStretchLastSection(true);
    connect(columns, &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (column != ChatTableModel::kMessageColumn) return;
        // The view itself takes the new width only after this signal: the rows are measured
        // once it has.
        QMetaObject::invokeMethod(
            this, [this] { applyRowHeights(); }, Qt::QueuedConnection);
    });
    tableView_->setStyleSheet("QTableView { background: transparent; border: none; }");
    // The rows lie on the pane's grey: their colours are drawn so that they read on it.
    tableView_->setItemDelegate(
        new ReadableTextDelegate(toQColor(ColorHelper::vozodDarkGray()), tableView_));
    // A table showing its newest row keeps showing it whole as rows grow: the scroll bar that
    // tall rows bring narrows the column, and the rows are measured again after the scroll.
    QScrollBar* bar = tableView_->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        atEnd_ = value == bar->maximum();
        // Rows scrolled into view are measured before they are drawn.
        measureShownRows();
    });
    tableView_->viewport()->installEventFilter(this);
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (atEnd_) bar->setValue(maximum);
    });
    // A row is as high as the view's own cells need for what they draw (the locale's time
    // before the text, the cells' margins, the removed messages' face) at the columns' widths,
    // so that no cell cuts its last line.
    model_->setRowMeasure([view = static_cast<QAbstractItemView*>(tableView_)](int row) {
        return view->sizeHintForRow(row);
    });

    longPress_ = new LongPressWatcher(
        *tableView_->viewport(), [this](const QPoint& point) { return pressBegan(point); },
        [this] {
            if (!pressed_) return;
            const PressedMessage press = *pressed_;
            removeMessage(press.messageId, press.text);
        });

    chatTarget_ = new RecipientPopUp(this);
    chatTarget_->setObjectName("chatTarget");
    connect(chatTarget_, &RecipientPopUp::activated, this,
            [this](int index) { recipientChanged(index); });
    textField_ = new QLineEdit(this);
    textField_->setObjectName("textField");
    connect(textField_, &QLineEdit::returnPressed, this, [this] { returnPressed(); });
    sendStatus_ = new QLabel(this);
    sendStatus_->setObjectName("sendStatus");
    // A warning's yellow, which reads at better than 4.5:1 on the pane's grey (red would not).
    sendStatus_->setStyleSheet("color: #FFE664");
    sendStatus_->hide();
    // What is typed next is a new attempt.
    connect(textField_, &QLineEdit::textEdited, sendStatus_, &QLabel::hide);
    recipientNotice_ = new QLabel(this);
    recipientNotice_->setObjectName("recipientNotice");
    recipientNotice_->setStyleSheet("color: #FFE664");
    recipientNotice_->setTextFormat(Qt::PlainText);
    recipientNotice_->hide();

    auto makeButton = [this](const char* title) {
        auto* button = new SendButton(this);
        button->title()->setText(title);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        button->setDelegate(this);
        return button;
    };
    sb_ = makeButton("Send");
    fb_ = makeButton("Flash");
    eb_ = makeButton("-");

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(chatTarget_);
    bottom->addWidget(textField_, 1);
    bottom->addWidget(sb_);
    bottom->addWidget(fb_);
    bottom->addWidget(eb_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(tableView_, 1);
    layout->addWidget(sendStatus_);
    layout->addWidget(recipientNotice_);
    layout->addLayout(bottom);
}

void ChatTableViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    // The pane's own grey, a shade lighter than the other lockable panels.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(ColorHelper::vozodDarkGray()));
    setPalette(palette);
}

void ChatTableViewController::viewDidAppear() {
    updateClients();
    observers_.clear();
    observers_.push_back(services_.center.addObserver(ChatNotification::kRefreshChat,
                                                      [this](const Notification&) { refresh(); }));
    reloadData();
    scrollToEnd();
}

void ChatTableViewController::viewWillDisappear() {
    observers_.clear();
    viewDidDisappear();
}

// ---- Rows ----

int ChatTableViewController::timeColumnWidth() const {
    // The widest time of day the locale writes, in the column's face, with the cell's margins.
    const QFontMetrics metrics(model_->smallFont());
    int widest = 0;
    for (int hour = 0; hour < 24; ++hour) {
        const double date = hour * 3600.0 + 58 * 60.0;
        widest = std::max(widest, metrics.horizontalAdvance(ChatTableModel::shortTime(date)));
    }
    const int margin =
        tableView_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tableView_) + 1;
    return widest + 2 * margin + 2;
}

void ChatTableViewController::reloadData() {
    model_->reload();
    // The locale may have changed the times' length.
    const int timeWidth = timeColumnWidth();
    if (tableView_->columnWidth(ChatTableModel::kTimeColumn) != timeWidth) {
        tableView_->horizontalHeader()->resizeSection(ChatTableModel::kTimeColumn, timeWidth);
    }
    applyRowHeights();
}

void ChatTableViewController::applyRowHeights() {
    // The heights kept are those measured at the width the column has now.
    model_->setMessageWidth(tableView_->columnWidth(ChatTableModel::kMessageColumn));
    QHeaderView* rows = tableView_->verticalHeader();
    const int estimate = model_->estimatedRowHeight();
    // This gives every row the new size: only a new font changes it.
    if (rows->defaultSectionSize() != estimate) rows->setDefaultSectionSize(estimate);
    // A row not measured at this width keeps the height it has until it is shown.
    const int count = model_->rowCount();
    for (int row = 0; row < count; ++row) {
        const int height = model_->measuredRowHeight(row);
        if (height > 0 && rows->sectionSize(row) != height) rows->resizeSection(row, height);
    }
    measureShownRows();
}

void ChatTableViewController::measureShownRows() {
    // Resizing rows moves the scroll bar, which asks again.
    if (measuring_) return;
    measuring_ = true;
    QHeaderView* rows = tableView_->verticalHeader();
    const int count = model_->rowCount();
    const int shown = tableView_->viewport()->height();
    // Measured rows may come out lower than their estimates and show more rows: a few passes.
    for (int pass = 0; pass < 4; ++pass) {
        bool changed = false;
        auto measure = [&](int row) {
            const int height = model_->rowHeight(row);
            if (height > 0 && rows->sectionSize(row) != height) {
                rows->resizeSection(row, height);
                changed = true;
            }
            return rows->sectionSize(row);
        };
        if (atEnd_) {
            int covered = 0;
            for (int row = count - 1; row >= 0 && covered < shown; --row) covered += measure(row);
        } else {
            const int top = std::max(rows->logicalIndexAt(0), 0);
            int covered = count > 0 ? rows->sectionViewportPosition(top) : 0;
            for (int row = top; row < count && covered < shown; ++row) covered += measure(row);
        }
        if (!changed) break;
    }
    measuring_ = false;
}

bool ChatTableViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tableView_->viewport() && event->type() == QEvent::Resize) {
        QMetaObject::invokeMethod(
            this, [this] { measureShownRows(); }, Qt::QueuedConnection);
    }
    return LockableViewController::eventFilter(watched, event);
}

void ChatTableViewController::scrollToEnd() { tableView_->scrollToBottom(); }

void ChatTableViewController::refresh() { reloadData(); }

int ChatTableViewController::numberOfRows() const { return model_->rowCount(); }

std::shared_ptr<ChatMessage> ChatTableViewController::messageAtRow(int row) const {
    return model_->messageAtRow(row);
}

std::string ChatTableViewController::chatUsername() const {
    return services_.settings.chatUsername();
}

int ChatTableViewController::fontSize() const {
    return ChatTableModel::fontSize(services_.settings.chatFontSize());
}

// ---- Recipients ----

void ChatTableViewController::updateClients() {
    const QString chosen = chatTarget_->currentText();
    chatTarget_->clear();
    chatTarget_->addItem(kAllRecipients);
    const std::string me = chatUsername();
    for (const ChatClient& client : services_.chat.chatClients()) {
        // A user without a name could not be addressed.
        if (client.chatName && *client.chatName != me) {
            chatTarget_->addItem(QString::fromStdString(*client.chatName));
        }
    }
    // The user the notice names is back: what it says no longer holds.
    if (!recipientNotice_->isHidden() && chatTarget_->findText(leftRecipient_) > 0) {
        recipientNotice_->hide();
    }
    const int kept = chosen.isEmpty() ? -1 : chatTarget_->findText(chosen);
    if (kept >= 0) {
        chatTarget_->setCurrentIndex(kept);
        return;
    }
    chatTarget_->setCurrentIndex(0);
    if (chosen.isEmpty() || chosen == kAllRecipients) return;
    services_.settings.setChatReceiver(kAllRecipients);
    leftRecipient_ = chosen;
    recipientNotice_->setText(RecipientName::leftTheChat(chosen, recipientNotice_->fontMetrics()));
    recipientNotice_->show();
}

void ChatTableViewController::recipientChanged(int index) {
    if (index < 0 || index >= chatTarget_->count()) return;
    recipientNotice_->hide();
    services_.settings.setChatReceiver(chatTarget_->itemText(index).toStdString());
}

// ---- Sending ----

void ChatTableViewController::sendClicked(SendButton& button) {
    if (&button == eb_) {
        toggleQuickMessagePane();
    } else {
        sendMessage(&button);
    }
}

void ChatTableViewController::returnPressed() {
    if (!textField_->text().isEmpty()) sendMessage(nullptr);
}

void ChatTableViewController::toggleQuickMessagePane() {
    const bool expand = eb_->title()->text() != "-";
    eb_->title()->setText(expand ? "-" : "+");
    if (delegate_) delegate_->expandCollapseClicked(expand);
}

void ChatTableViewController::sendMessage(const SendButton* button) {
    // The cover keeps the text in the field until the pane is unlocked.
    if (isCovered()) return;
    const bool page = button == fb_;
    std::string text = textField_->text().toStdString();
    if (text.empty() && page) text = chatUsername() + " paging!";
    const std::string messageId = UUIDString::make();
    sending_ = messageId;
    QPointer<ChatTableViewController> alive(this);
    services_.center.post(
        ChatNotification::kChatMessage,
        Dictionary{{"message", text},
                   {"sender", chatUsername()},
                   {"messageId", messageId},
                   {"uuid", ChatManager::uuid()},
                   {"type", static_cast<int64_t>(page ? ChatMessage::kPage : ChatMessage::kText)},
                   {"recipient", chatTarget_->currentText().toStdString()}});
    // Not sent: messageNotSent has let go of it, and the text stays to be sent again.
    if (!alive || !sending_) return;
    sending_.reset();
    sendStatus_->hide();
    reloadData();
    scrollToEnd();
    textField_->clear();
}

void ChatTableViewController::messageNotSent(const Dictionary& message) {
    const std::string* id = message["messageId"].stringValue();
    if (sending_ && id && *id == *sending_) sending_.reset();
    // Also for a quick message or a page sent from elsewhere: this is where the user looks.
    showSendStatus(kNotSentText);
}

void ChatTableViewController::showSendStatus(const char* text) {
    sendStatus_->setText(text);
    sendStatus_->show();
}

// ---- Deleting an own message ----

bool ChatTableViewController::pressBegan(const QPoint& point) {
    pressed_.reset();
    const std::shared_ptr<ChatMessage> message =
        model_->messageAtRow(tableView_->indexAt(point).row());
    if (!message || message->sender() != chatUsername()) return false;
    pressed_ = PressedMessage{message->messageId(), message->message().value_or("")};
    return true;
}

void ChatTableViewController::removeMessage(const std::optional<std::string>& messageId,
                                            const std::string& text) {
    // Without an id the server could not be told which message went.
    if (!messageId || messageId->empty()) return;
    if (!alertPresenter_) {
        log(LogLevel::Warning, "No delete question can be asked; the message stays");
        return;
    }
    Alert question;
    question.messageText = "Delete";
    question.informativeText = "Are you sure you want to delete this message <" + text + ">?";
    question.style = Alert::Style::Warning;
    question.buttons = {"Delete", "Cancel"};
    if (alertPresenter_->runModal(this, question) != 0) return;
    if (!ChatManager::removeMessage(*messageId, true)) showSendStatus(kDeleteNotSentText);
}

// ---- Lock ----

void ChatTableViewController::lock(bool locked) {
    // The lock's notification covers the pane as well; covering twice keeps one cover.
    if (!lockView()) return;
    if (locked) {
        lockView()->cover();
    } else {
        lockView()->uncover();
    }
}

}  // namespace quenbril
