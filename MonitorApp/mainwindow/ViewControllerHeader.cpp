// The main window's header: its buttons (the controller is their delegate), the titles of
// buttons, the mute button and the lock of the whole interface. The header's indicators are
// HeaderIndicators.

#include <QAbstractButton>
#include <QBoxLayout>
#include <QWidget>
#include <initializer_list>

#include "MonitorApp/controls/LongClickButton.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

namespace {

/// Size of the header's image buttons in points.
constexpr int kHeaderButtonWidth = 72;
constexpr int kHeaderButtonHeight = 44;
/// Width of the tool selector: three tools of 40 points.
constexpr int kToolSelectorWidth = 120;

}  // namespace

// The header's buttons: the image buttons "Reset", "Snaps", "Chat" and the panel button
// "A"/"B" report to this controller as their delegate (by title); "Solo clear" is a long-click
// button (a click clears the solos, a long click hard-clears them); then the tool selector.
void ViewController::buildHeaderButtons(QWidget* header, QBoxLayout* layout) {
    auto imageButton = [&](const char* title, const char* upImage) {
        auto* button = new QBButton(header, QBButton::Style::Header);
        button->setObjectName(QString(title) + "Button");
        button->setTitle(title);
        if (upImage) button->setUpImage(upImage);
        button->setDelegate(this);
        button->setFixedSize(kHeaderButtonWidth, kHeaderButtonHeight);
        return button;
    };
    QBButton* reset = imageButton("Reset", "Alert_reset_up.png");
    auto* soloClear = new LongClickButton(header);
    soloClear->setObjectName("SoloClearButton");
    soloClear->setText("Solo clear");
    soloClear->setFocusPolicy(Qt::NoFocus);
    soloClear->setFixedHeight(kHeaderButtonHeight);
    soloClear->setDelegate(this);
    QBButton* snaps = imageButton("Snaps", nullptr);
    QBButton* chat = imageButton("Chat", "Chat_up.png");
    QBButton* panel = imageButton("A", nullptr);
    for (QWidget* button : std::initializer_list<QWidget*>{reset, soloClear, snaps, chat, panel}) {
        layout->addWidget(button);
    }
    setResetButton(reset);
    setSoloClearButton(soloClear);
    setChatButton(chat);
    setPanelButton(panel);

    auto* tools = new ToolSelector(services_.settings(), header);
    tools->setObjectName("toolSelector");
    tools->setFixedSize(kToolSelectorWidth, kHeaderButtonHeight);
    layout->addWidget(tools);
    setToolSelector(tools);
}

// ---- The header's buttons ----

void ViewController::QBButtonClicked(QBButton& button) {
    QBButtonClicked(static_cast<TitledButton&>(button));
}

void ViewController::QBButtonLongClicked(QBButton& button) {
    QBButtonLongClicked(static_cast<TitledButton&>(button));
}

void ViewController::LongClickButtonClicked(LongClickButton& button) {
    LongClickButtonClicked(static_cast<const void*>(static_cast<QWidget*>(&button)));
}

void ViewController::LongClickButtonLongClicked(LongClickButton& button) {
    LongClickButtonLongClicked(static_cast<const void*>(static_cast<QWidget*>(&button)));
}

void ViewController::LongClickButtonClicked(const void* sender) {
    if (sender && sender == soloClearButton_) soloClearClicked();
}

void ViewController::LongClickButtonLongClicked(const void* sender) {
    if (sender && sender == soloClearButton_) soloHardClearClicked();
}

void ViewController::chatButtonClicked() {
    setChatAlarm(false);
    showHideChat();
}

void ViewController::mute(QAbstractButton* sender) {
    if (sender) sender->setText(actions_.isMuted() ? "Mute" : "Unmute");
    toggleMute();
}

void ViewController::setButtonTitleFor(QAbstractButton* button, const std::string& text,
                                       const QColor& color) {
    if (!button) return;
    // A push button centres its text already.
    button->setText(QString::fromStdString(text));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    button->setPalette(palette);
}

// ---- Lock ----

void ViewController::lock(bool on) {
    if (!lockView_) lockView_ = new LockView(this);
    lockView_->setGeometry(rect());
    services_.models.notifications.post(LockNotification::kLocked,
                                        Dictionary{{LockNotification::kLockOnKey, on}});

    if (auto player = segues_.openPerformerWindow()) player->lock(on);
    if (const auto& table = segues_.chatTable()) table->lock(on);
    if (const auto& buttons = segues_.chatButtons()) buttons->lock(on);

    const std::initializer_list<QWidget*> buttons = {indicators_.resetButton(), panelButton_,
                                                     soloClearButton_, indicators_.chatButton()};
    for (QWidget* button : buttons) {
        if (button) button->setEnabled(!on);
    }
    if (toolSelector_) toolSelector_->setIsActive(!on);
    // The cover takes every click and key of the main view, the strips included; the menu
    // bar lies outside it.
    if (on) {
        lockView_->cover();
    } else {
        lockView_->uncover();
    }
    services_.settings().setIsLocked(on);
}

}  // namespace quenbril
