#include "MonitorApp/chat/ui/single_window/ChatViewController.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/UUIDString.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonLayout.h"
#include "MonitorApp/chat/ui/RecipientName.h"
#include "MonitorApp/chat/ui/SendButton.h"
#include "MonitorApp/chat/ui/single_window/ChatRecipientControl.h"
#include "MonitorApp/controls/FillView.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/ReadableTextDelegate.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/preferences/PreferencesAlerts.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr const char* kSettingsKey = "chatSettings";
constexpr const char* kFrameName = "chatWindowAutoSave";
constexpr int kMinimumWidth = 400;
constexpr int kMinimumHeight = 600;
// The column of buttons: room for eight of a comfortable height.
constexpr int kButtonViewHeight = 240;
constexpr int kCellTextSize = 16;
constexpr int kTimeTextSize = 10;
constexpr int kMeasuredTextSize = 18;
// Seconds from the Unix epoch to 2001-01-01, the epoch of the chat's dates.
constexpr qint64 kReferenceDateOffset = 978307200;

QFont systemFont(int pointSize, bool bold = false) {
    QFont font;
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

std::string shortTime(const std::optional<double>& date) {
    if (!date) return {};
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>((*date + kReferenceDateOffset) * 1000.0), Qt::LocalTime);
    return QLocale::system().toString(time.time(), QLocale::ShortFormat).toStdString();
}

/// The "source" text of a message, the two names joined by `arrow`.
std::string sourceText(const ChatMessage& message, const std::string& arrow) {
    std::string text = message.sender().value_or("") + arrow + message.recipient().value_or("");
    if (message.messageType() == ChatMessage::kSCPAlert) text = "SCP alert";
    if (message.messageType() == ChatMessage::kSnapshotChanged) text = "Snapshot changed";
    if (message.isAlertReset()) text = "Alert reset";
    return text;
}

int measuredHeight(const QFont& font, int width, const std::string& text) {
    return QFontMetrics(font)
        .boundingRect(QRect(0, 0, std::max(width, 1), 0), Qt::TextWordWrap,
                      QString::fromStdString(text))
        .height();
}

QCheckBox* makeCheckBox(const char* title, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromUtf8(title), parent);
    box->setChecked(true);
    return box;
}

}  // namespace

ChatViewController::ChatViewController(const ChatServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      tableView_(new QTableWidget(0, 3, this)),
      buttonView_(new QWidget(this)),
      textField_(new QLineEdit(this)),
      chatTarget_(new ChatRecipientControl(this)),
      recipientNotice_(new QLabel(this)),
      sendView_(new QWidget(this)),
      divider1_(new FillView(this)),
      divider2_(new FillView(this)),
      onTop_(makeCheckBox("On top", this)),
      userMes_(makeCheckBox("Messages", this)),
      snaps_(makeCheckBox("Snapshots", this)),
      alerts_(makeCheckBox("Alerts", this)) {
    buildLayout();
    chatTarget_->setLabels({"All"});
}

ChatViewController::~ChatViewController() {
    for (ChatButton* button : chatButtons_) button->setDelegate(nullptr);
    if (sendButton_) sendButton_->setDelegate(nullptr);
}

void ChatViewController::buildLayout() {
    tableView_->setHorizontalHeaderLabels({"time", "source", "message"});
    tableView_->horizontalHeader()->hide();
    tableView_->verticalHeader()->hide();
    tableView_->setColumnWidth(kTimeColumn, 60);
    tableView_->setColumnWidth(kSourceColumn, 120);
    tableView_->horizontalHeader()->setStretchLastSection(true);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setSelectionMode(QAbstractItemView::NoSelection);
    tableView_->setFocusPolicy(Qt::NoFocus);
    tableView_->setWordWrap(true);
    // The rows' colours are drawn so that they read on the table's own background.
    tableView_->setItemDelegate(
        new ReadableTextDelegate(tableView_->palette().color(QPalette::Base), tableView_));
    tableView_->setShowGrid(false);

    buttonView_->setFixedHeight(kButtonViewHeight);
    divider1_->setFixedHeight(2);
    divider2_->setFixedHeight(2);
    sendView_->setFixedSize(80, 30);

    auto* filters = new QHBoxLayout;
    for (QCheckBox* box : {userMes_, snaps_, alerts_, onTop_}) filters->addWidget(box);
    auto* entry = new QHBoxLayout;
    entry->addWidget(textField_, 1);
    entry->addWidget(sendView_);
    auto* column = new QVBoxLayout(this);
    column->addLayout(filters);
    column->addWidget(divider1_);
    column->addWidget(tableView_, 1);
    column->addWidget(divider2_);
    column->addWidget(buttonView_);
    column->addWidget(chatTarget_);
    column->addWidget(recipientNotice_);
    column->addLayout(entry);
    // The window is at least kMinimumWidth wide, and wider where the layout needs it: no
    // recipient's segment is narrower than its name.
    const QMargins margins = column->contentsMargins();
    column->addStrut(kMinimumWidth - margins.left() - margins.right());

    recipientNotice_->setObjectName("recipientNotice");
    recipientNotice_->setTextFormat(Qt::PlainText);
    recipientNotice_->setStyleSheet("color: #FFE664");
    recipientNotice_->hide();
    // The user's own choice answers the notice.
    connect(chatTarget_->group(), &QButtonGroup::idClicked, recipientNotice_, &QLabel::hide);

    connect(userMes_, &QCheckBox::toggled, this, [this] { reloadData(); });
    connect(snaps_, &QCheckBox::toggled, this, [this] { reloadData(); });
    connect(alerts_, &QCheckBox::toggled, this, [this] { reloadData(); });
    connect(onTop_, &QCheckBox::toggled, this, [this] { updateWindowLevel(); });
    connect(textField_, &QLineEdit::returnPressed, this, [this] { sendClicked(); });
    // F1 to F8 reach the window wherever its focus is.
    setFocusPolicy(Qt::StrongFocus);
}

void ChatViewController::viewDidLoad() {
    // The height only: the layout keeps the width (see buildLayout).
    setMinimumSize(0, kMinimumHeight);
    if (!lockView_) {
        lockView_ = new LockView(this);
        lockView_->setGeometry(0, 0, width(), 0);
    }
    configureButtons();
    updateButtonText(services_.strips.activeChannelNamesForChat(), 0);
    reloadData();
    scrollToEnd();
    if (!sendButton_) {
        sendButton_ = new SendButton(sendView_);
        sendButton_->setGeometry(sendView_->rect());
        sendButton_->setDelegate(this);
    }
    configureLayout();
}

void ChatViewController::configureLayout() {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(ColorHelper::vozodDarkGray()));
    setPalette(palette);
    for (QCheckBox* box : {userMes_, alerts_, snaps_, onTop_}) {
        QPalette boxPalette = box->palette();
        boxPalette.setColor(QPalette::WindowText, Qt::white);
        box->setPalette(boxPalette);
    }
    divider1_->setPattern(QStringLiteral("line.png"));
    divider2_->setPattern(QStringLiteral("line.png"));
}

void ChatViewController::viewDidAppear() {
    loadSettings();
    updateClients();
    if (QWidget* frame = window()) WindowFrameAutosave::restore(*frame, kFrameName);
    appeared_ = true;
    placeButtons();
    buttonsChangedObserver_ = services_.center.addObserver(
        ChatNotification::kChatButtonsChanged, [this](const Notification&) { configureButtons(); });
    // No other window passes the lock on to this one: it follows the lock itself, and is
    // covered at once when shown while the interface is locked.
    lockObserver_ =
        services_.center.addObserver(LockNotification::kLocked, [this](const Notification& n) {
            lock(n.userInfo[LockNotification::kLockOnKey].boolValue().value_or(false));
        });
    lock(services_.settings.isLocked());
    updateWindowLevel();
}

void ChatViewController::viewWillDisappear() {
    saveSettings();
    appeared_ = false;
    buttonsChangedObserver_.reset();
    lockObserver_.reset();
    if (QWidget* frame = window()) WindowFrameAutosave::save(*frame, kFrameName);
}

void ChatViewController::configureButtons() {
    for (ChatButton* button : chatButtons_) delete button;
    chatButtons_.clear();
    // The setting is kept within 0..8, so the slots never go below 0.
    const int count = std::clamp(services_.settings.chatMacroCount(), 0, ChatButton::kSlotCount);
    for (int i = 0; i < count; ++i) {
        auto* button = new ChatButton(services_, buttonView_);
        button->setMyTag(ChatButton::kSlotCount - count + i);
        button->setDelegate(this);
        button->readUserData();
        button->show();
        chatButtons_.push_back(button);
    }
    placeButtons();
}

void ChatViewController::placeButtons() {
    const std::vector<QRect> frames =
        ChatButtonLayout::columnFrames(buttonView_->size(), static_cast<int>(chatButtons_.size()));
    for (size_t i = 0; i < chatButtons_.size(); ++i) {
        chatButtons_[i]->setGeometry(frames[i]);
        chatButtons_[i]->updatePositions();
    }
}

void ChatViewController::updateButtonText(const std::string& text, int slot) {
    const int tag = slot + ChatButton::kSlotCount - static_cast<int>(chatButtons_.size());
    for (ChatButton* button : chatButtons_) {
        if (button->myTag() == tag) button->setText(text);
    }
}

void ChatViewController::resizeEvent(QResizeEvent*) {
    if (!appeared_) return;
    placeButtons();
    // Row heights follow the message column's width.
    reloadData();
}

void ChatViewController::updateClients() {
    const std::vector<ChatClient>& clients = services_.chat.chatClients();
    if (clients.empty()) return;
    // "All" and every other user: this user may or may not be among the clients.
    const std::string me = services_.settings.chatUsername();
    std::vector<std::string> labels{"All"};
    for (const ChatClient& client : clients) {
        if (client.chatName && *client.chatName != me) labels.push_back(*client.chatName);
    }
    const std::optional<std::string> chosen = chatTarget_->selectedLabel();
    chatTarget_->setLabels(labels);
    // The user the notice names is back: what it says no longer holds.
    if (std::find(labels.begin() + 1, labels.end(), leftRecipient_) != labels.end()) {
        recipientNotice_->hide();
    }
    if (!chosen || *chosen == "All" || chatTarget_->selectedLabel() == chosen) return;
    leftRecipient_ = *chosen;
    recipientNotice_->setText(RecipientName::leftTheChat(QString::fromStdString(*chosen),
                                                         recipientNotice_->fontMetrics()));
    recipientNotice_->show();
}

std::string ChatViewController::recipient() const {
    return chatTarget_->selectedLabel().value_or("All");
}

void ChatViewController::saveSettings() {
    const Dictionary settings{{"userMes", userMes_->isChecked() ? 1 : 0},
                              {"snaps", snaps_->isChecked() ? 1 : 0},
                              {"alerts", alerts_->isChecked() ? 1 : 0},
                              {"onTop", onTop_->isChecked() ? 1 : 0}};
    if (!services_.defaults.setObject(Value(settings), kSettingsKey)) {
        reportPreferencesNotSaved(this, alertPresenter_, services_.defaults);
    }
}

void ChatViewController::loadSettings() {
    // Anything but a dictionary reads as missing: the boxes stay as they are.
    const auto settings = services_.defaults.dictionaryForKey(kSettingsKey);
    if (!settings) return;
    const std::pair<QCheckBox*, const char*> boxes[] = {
        {userMes_, "userMes"}, {snaps_, "snaps"}, {alerts_, "alerts"}, {onTop_, "onTop"}};
    for (const auto& [box, key] : boxes) {
        box->setChecked((*settings)[key].longLongValue().value_or(0) != 0);
    }
}

bool ChatViewController::showUserMes() const { return userMes_->isChecked(); }
bool ChatViewController::showSnaps() const { return snaps_->isChecked(); }
bool ChatViewController::showAlerts() const { return alerts_->isChecked(); }

bool ChatViewController::showMessage(const ChatMessage& message) const {
    switch (message.messageType()) {
        case ChatMessage::kText:
            return showUserMes();
        case ChatMessage::kSnapshotChanged:
            return showSnaps();
        default:
            return showAlerts();
    }
}

void ChatViewController::updateWindowLevel() {
    QWidget* frame = window();
    const bool onTop = onTop_->isChecked();
    if (frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool shown = frame->isVisible();
    frame->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    // Changing a window's flags takes it off screen.
    if (shown) frame->show();
}

std::string ChatViewController::cellText(const ChatMessage& message, Column column) {
    switch (column) {
        case kTimeColumn:
            return shortTime(message.date());
        case kSourceColumn:
            return sourceText(message, "->");
        case kMessageColumn:
            break;
    }
    return message.message().value_or("");
}

int ChatViewController::rowHeight(const ChatMessage& message) const {
    const int textHeight =
        measuredHeight(systemFont(kMeasuredTextSize), tableView_->columnWidth(kMessageColumn),
                       message.message().value_or(""));
    // The height is measured with spaces around the arrow; the cell shows none.
    const int sourceHeight =
        measuredHeight(systemFont(kCellTextSize, true), tableView_->columnWidth(kSourceColumn),
                       sourceText(message, " -> "));
    return std::max(textHeight, sourceHeight);
}

void ChatViewController::reloadData() {
    rows_.clear();
    for (const auto& message : ChatManager::messages()) {
        if (showMessage(*message)) rows_.push_back(message);
    }
    tableView_->setRowCount(static_cast<int>(rows_.size()));
    for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
        const ChatMessage& message = *rows_[static_cast<size_t>(row)];
        QColor colour = Qt::white;
        if (message.messageType() == ChatMessage::kSCPAlert) colour = Qt::red;
        if (message.messageType() == ChatMessage::kSnapshotChanged) colour = Qt::green;
        for (Column column : {kTimeColumn, kSourceColumn, kMessageColumn}) {
            // Table items show their text as it is, never as markup.
            auto* item = new QTableWidgetItem(QString::fromStdString(cellText(message, column)));
            item->setFont(systemFont(column == kTimeColumn ? kTimeTextSize : kCellTextSize));
            item->setForeground(column == kSourceColumn ? QColor(Qt::darkGray) : colour);
            if (column == kTimeColumn) item->setTextAlignment(Qt::AlignRight | Qt::AlignTop);
            tableView_->setItem(row, column, item);
        }
        tableView_->setRowHeight(row, rowHeight(message));
    }
}

void ChatViewController::scrollToEnd() { tableView_->scrollToBottom(); }

void ChatViewController::lock(bool locked) {
    buttonView_->setHidden(locked);
    if (!lockView_) return;
    if (locked) {
        lockView_->cover();
    } else {
        lockView_->uncover();
    }
}

void ChatViewController::post(const std::string& text) {
    services_.center.post(ChatNotification::kChatMessage,
                          Dictionary{{"message", text},
                                     {"sender", services_.settings.chatUsername()},
                                     {"type", 0},
                                     {"uuid", ChatManager::uuid()},
                                     {"messageId", UUIDString::make()},
                                     {"recipient", recipient()}});
}

void ChatViewController::sendClicked() {
    if (lockView_ && lockView_->isCovering()) return;
    const std::string text = textField_->text().toStdString();
    reloadData();
    scrollToEnd();
    textField_->clear();
    post(text);
}

void ChatViewController::sendClicked(SendButton&) { sendClicked(); }

void ChatViewController::sendKey(int key) {
    const int tag = ChatButton::kSlotCount - key;
    for (ChatButton* button : chatButtons_) {
        if (button->myTag() == tag) {
            post(button->text());
            return;
        }
    }
}

void ChatViewController::keyPressEvent(QKeyEvent* event) {
    if (event->key() >= Qt::Key_F1 && event->key() <= Qt::Key_F8) {
        sendKey(event->key() - Qt::Key_F1 + 1);
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace quenbril
