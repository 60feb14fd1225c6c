#include "MonitorApp/chat/ui/ChatButtonViewController.h"

#include <QComboBox>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonLayout.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

ChatButtonViewController::ChatButtonViewController(const ChatServices& services, QWidget* parent)
    : QWidget(parent), services_(services), buttonView_(new QWidget(this)) {}

ChatButtonViewController::~ChatButtonViewController() {
    for (ChatButton* button : chatButtons_) button->setDelegate(nullptr);
}

void ChatButtonViewController::viewDidLoad() {
    chatButtons_.clear();
    if (!lockView_) {
        lockView_ = new LockView(this);
        lockView_->setGeometry(0, 0, width(), 0);
    }
}

void ChatButtonViewController::viewDidAppear() {
    // A pane shown while the interface is locked is covered at once; the main window
    // unlocks it.
    locked_ = services_.settings.isLocked();
    addButtons();
    resizeButtons();
    if (locked_) lock(true);
    appeared_ = true;
    messagesChangedObserver_ =
        services_.center.addObserver(ChatNotification::kChatMessagesChanged,
                                     [this](const Notification&) { chatMessagesChanged(); });
}

void ChatButtonViewController::viewWillDisappear() {
    appeared_ = false;
    messagesChangedObserver_.reset();
}

void ChatButtonViewController::addButtons() {
    for (ChatButton* button : chatButtons_) delete button;
    chatButtons_.clear();
    for (int tag = 0; tag < ChatButton::kSlotCount; ++tag) {
        auto* button = new ChatButton(services_, buttonView_);
        button->setGeometry(0, 0, 0, 0);
        button->setMyTag(tag);
        button->setDelegate(this);
        chatButtons_.push_back(button);
        button->setVisible(!locked_);
    }
    chatButtons_[0]->setText(services_.strips.activeChannelNamesForChat());
    for (size_t k = 1; k < chatButtons_.size(); ++k) chatButtons_[k]->readUserData();
}

void ChatButtonViewController::chatMessagesChanged() {
    if (chatButtons_.empty()) return;
    chatButtons_[0]->setText(services_.strips.previouslyClickedChannel());
    for (size_t k = 1; k < chatButtons_.size(); ++k) chatButtons_[k]->readUserData();
}

void ChatButtonViewController::sendKey(int key) {
    if (locked_) return;
    for (ChatButton* button : chatButtons_) {
        if (button->myTag() == ChatButton::kSlotCount - key) {
            button->send();
            return;
        }
    }
}

void ChatButtonViewController::updateButtonText(const std::string& text) {
    if (!chatButtons_.empty()) chatButtons_[0]->setText(text);
}

void ChatButtonViewController::resizeButtons() {
    const QSize area = buttonView_->size();
    const std::vector<QRect> frames = ChatButtonLayout::paneFrames(
        area, services_.settings.chatButtonSize(), static_cast<int>(chatButtons_.size()));
    for (size_t k = 0; k < chatButtons_.size(); ++k) {
        ChatButton* button = chatButtons_[k];
        button->setGeometry(frames[k]);
        // A button reaching above the area is hidden; a locked pane keeps all of them hidden.
        button->setVisible(!locked_ && frames[k].top() >= 0);
        button->updatePositions();
    }
}

void ChatButtonViewController::screenResize() { resizeButtons(); }

void ChatButtonViewController::resizeEvent(QResizeEvent*) {
    buttonView_->setGeometry(rect());
    // The cover follows the pane's size by itself.
    if (appeared_) screenResize();
}

void ChatButtonViewController::lock(bool locked) {
    locked_ = locked;
    for (ChatButton* button : chatButtons_) button->setVisible(!locked);
    if (!lockView_) return;
    if (locked) {
        lockView_->cover();
    } else {
        lockView_->uncover();
    }
}

std::string ChatButtonViewController::recipient() const {
    return chatTargetRef_ ? chatTargetRef_->currentText().toStdString() : std::string();
}

}  // namespace quenbril
