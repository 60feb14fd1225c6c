// The main window's indicators and lock: the alarm looks of the chat and reset buttons, the
// header's flash on a chat message, the bar that grows while a strip is held for a long click,
// and the lock of the whole interface.

#include <QAbstractButton>
#include <QWidget>
#include <cmath>
#include <initializer_list>

#include "MonitorApp/controls/FillView.h"
#include "MonitorApp/controls/LongClickButton.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

namespace {

constexpr int kLongClickBarHeight = 2;

/// The flash's colour `seconds` into it: green to red in 0.5 s, then back, every second.
QColor flashColor(double seconds) {
    const double cycle = std::fmod(seconds, 1.0);
    const double red = cycle < 0.5 ? cycle / 0.5 : (1.0 - cycle) / 0.5;
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(1.0 - red), 0.0f, 1.0f);
}

}  // namespace

// ---- Alarms ----

void ViewController::setResetAlarm(bool on) {
    resetAlarm_ = on;
    if (resetButton_) {
        resetButton_->setUpImage(on ? QStringLiteral("Alert_reset_red.png")
                                    : QStringLiteral("Alert_reset_up.png"));
    }
}

void ViewController::setChatAlarm(bool on) {
    chatAlarm_ = on;
    if (chatButton_) {
        chatButton_->setUpImage(on ? QStringLiteral("Chat_red.png")
                                   : QStringLiteral("Chat_up.png"));
    }
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

void ViewController::setButtonTitleFor(QAbstractButton* button, const std::string& text,
                                       const QColor& color) {
    if (!button) return;
    // A push button centres its text already.
    button->setText(QString::fromStdString(text));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    button->setPalette(palette);
}

// ---- Header flash ----

void ViewController::flashHeader() {
    if (headerFlashing_) return;
    headerFlashing_ = true;
    ++headerFlashCount_;
    if (!headerBackdrop_) {
        // Behind the header's own children, over its background.
        headerBackdrop_ = new FillView(headerView_);
        headerBackdrop_->setFillsParent(true);
        headerBackdrop_->lower();
        headerBackdrop_->show();
    }
    headerBackdrop_->setColor(Qt::transparent);
    headerFlash_.start(
        kHeaderFlashDuration,
        [this](double progress) {
            headerBackdrop_->setColor(flashColor(progress * kHeaderFlashDuration));
        },
        [this] { endHeaderFlash(); });
}

void ViewController::endHeaderFlash() {
    headerFlashing_ = false;
    headerBackdrop_->setPattern(QStringLiteral("bgroundCont.png"));
}

// ---- Long-click bar ----

double ViewController::longClickBarDurationFor(double setting) {
    return setting >= 0 && setting <= 5 ? setting : kDefaultLongClickBarDuration;
}

void ViewController::setLongClickBarWidth(int width) {
    if (longClickBarView_) longClickBarView_->resize(width, kLongClickBarHeight);
}

void ViewController::clickStarted() {
    if (!longClickBarView_) {
        longClickBarView_ = new FillView(headerView_);
        longClickBarView_->setColor(QColor::fromRgbF(0.5f, 0.5f, 1.0f));
        longClickBarView_->setGeometry(0, 0, 0, kLongClickBarHeight);
        longClickBarView_->show();
    }
    longClickBarView_->raise();
    longClickBarRunning_ = true;
    // The bar crosses the header in the long-click time: it is full as the long click fires
    // (the strip's timer runs for the same time), and stays full until the press ends, so a
    // user who lets go at a full bar gets the long click.
    const int target = headerView_->width();
    longClickBar_.start(
        longClickBarDurationFor(UserSettingsManager::sharedInstance().longClickDuration()),
        [this, target](double progress) {
            setLongClickBarWidth(static_cast<int>(std::lround(progress * target)));
        },
        [this] { longClickBarRunning_ = false; });
}

void ViewController::clickEnded() {
    longClickBar_.stop();
    longClickBarRunning_ = false;
    setLongClickBarWidth(0);
}

// ---- Lock ----

void ViewController::lock(bool on) {
    if (!lockView_) lockView_ = new LockView(this);
    lockView_->setGeometry(rect());
    NotificationCenter::defaultCenter().post(LockNotification::kLocked,
                                             Dictionary{{LockNotification::kLockOnKey, on}});

    if (auto player = playerViewController(); player && !player->isClosed()) player->lock(on);
    if (chatVC_) chatVC_->lock(on);
    if (chatButtonVC_) chatButtonVC_->lock(on);

    const std::initializer_list<QWidget*> buttons = {resetButton_, panelButton_, soloClearButton_,
                                                     chatButton_};
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
    UserSettingsManager::sharedInstance().setIsLocked(on);
}

}  // namespace quenbril
