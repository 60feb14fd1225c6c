#include "MonitorApp/mainwindow/HeaderIndicators.h"

#include <QGraphicsOpacityEffect>
#include <QWidget>
#include <cmath>

#include "MonitorApp/controls/FillView.h"
#include "MonitorApp/controls/QBButton.h"
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

HeaderIndicators::HeaderIndicators(std::function<UserSettingsManager&()> settings)
    : settings_(std::move(settings)) {}

// ---- Alarms ----

void HeaderIndicators::setResetAlarm(bool on) {
    resetAlarm_ = on;
    if (resetButton_) {
        resetButton_->setUpImage(on ? QStringLiteral("Alert_reset_red.png")
                                    : QStringLiteral("Alert_reset_up.png"));
    }
}

void HeaderIndicators::setResetButtonOpacity(double opacity) {
    resetButtonOpacity_ = opacity;
    if (!resetButton_) return;
    if (opacity >= 1.0) {
        // A fully opaque button needs no effect, and drawing through one costs an extra pass.
        resetButton_->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(resetButton_->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(resetButton_);
        resetButton_->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

void HeaderIndicators::setChatAlarm(bool on) {
    chatAlarm_ = on;
    if (chatButton_) {
        chatButton_->setUpImage(on ? QStringLiteral("Chat_red.png")
                                   : QStringLiteral("Chat_up.png"));
    }
}

// ---- Header flash ----

void HeaderIndicators::flashHeader() {
    if (headerFlashing_) return;
    headerFlashing_ = true;
    ++headerFlashCount_;
    if (!headerBackdrop_) {
        // Behind the header's own children, over its background.
        headerBackdrop_ = new FillView(header_);
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

void HeaderIndicators::endHeaderFlash() {
    headerFlashing_ = false;
    headerBackdrop_->setPattern(QStringLiteral("bgroundCont.png"));
}

// ---- Long-click bar ----

double HeaderIndicators::longClickBarDurationFor(double setting) {
    return setting >= 0 && setting <= 5 ? setting : kDefaultLongClickBarDuration;
}

void HeaderIndicators::setLongClickBarWidth(int width) {
    if (longClickBarView_) longClickBarView_->resize(width, kLongClickBarHeight);
}

void HeaderIndicators::clickStarted() {
    if (!longClickBarView_) {
        longClickBarView_ = new FillView(header_);
        longClickBarView_->setColor(QColor::fromRgbF(0.5f, 0.5f, 1.0f));
        longClickBarView_->setGeometry(0, 0, 0, kLongClickBarHeight);
        longClickBarView_->show();
    }
    longClickBarView_->raise();
    longClickBarRunning_ = true;
    // The bar crosses the header in the long-click time: it is full as the long click fires
    // (the strip's timer runs for the same time), and stays full until the press ends, so a
    // user who lets go at a full bar gets the long click.
    const int target = header_->width();
    longClickBar_.start(
        longClickBarDurationFor(settings_().longClickDuration()),
        [this, target](double progress) {
            setLongClickBarWidth(static_cast<int>(std::lround(progress * target)));
        },
        [this] { longClickBarRunning_ = false; });
}

void HeaderIndicators::clickEnded() {
    longClickBar_.stop();
    longClickBarRunning_ = false;
    setLongClickBarWidth(0);
}

}  // namespace quenbril
