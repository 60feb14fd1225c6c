#include "MonitorApp/chat/ui/ChatNotifierViewController.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <limits>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

/// The size of a notifier that has no saved frame yet.
constexpr QSize kFirstSize(400, 200);
constexpr int kSenderTop = 8;
constexpr int kSenderHeight = 24;

QLabel* makeLabel(QWidget* parent, int pointSize, bool bold) {
    auto* label = new QLabel(parent);
    // Texts of other users are shown as they were typed, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    // Dark text stays readable on every colour of the flash.
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

}  // namespace

std::shared_ptr<ChatNotifierViewController> ChatNotifierViewController::shownOrNew(
    std::weak_ptr<ChatNotifierViewController>& shown, UserSettingsManager& settings,
    ColorHelper& colors) {
    if (auto open = shown.lock(); open && open->isVisible()) return open;
    auto made = std::make_shared<ChatNotifierViewController>(settings, colors);
    shown = made;
    return made;
}

ChatNotifierViewController::ChatNotifierViewController(UserSettingsManager& settings,
                                                       ColorHelper& colors, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint),
      settings_(settings),
      colors_(colors),
      background_(Qt::green) {
    setWindowTitle("Page");
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    senderField_ = makeLabel(this, 14, false);
    senderField_->setText("Sender");
    textLabel_ = makeLabel(this, 20, true);
}

ChatNotifierViewController::~ChatNotifierViewController() = default;

void ChatNotifierViewController::show() {
    if (isVisible()) {
        // A new page: the same window shows it and waits its full time-out again.
        showTexts();
        screenResize();
        startCloseTimer();
        raise();
        return;
    }
    viewWillAppear();
    QWidget::show();
    viewDidAppear();
}

void ChatNotifierViewController::viewWillAppear() {
    WindowFrameAutosave::restoreOrCentre(*this, kFrameName, kFirstSize);
}

void ChatNotifierViewController::viewDidAppear() {
    viewLoaded_ = true;
    timer_ = RunLoop::main().scheduleTimer(kFlashInterval, true, [this] { flash(); });
    showTexts();
    screenResize();
    startCloseTimer();
}

void ChatNotifierViewController::viewWillDisappear() {
    WindowFrameAutosave::save(*this, kFrameName);
    timer_.invalidate();
    closeTimer_.invalidate();
}

void ChatNotifierViewController::showTexts() {
    textLabel_->setText(QString::fromStdString(message_));
    // Without a sender the field keeps what it showed.
    if (!sender_.empty()) senderField_->setText(QString::fromStdString(sender_));
}

void ChatNotifierViewController::startCloseTimer() {
    const int seconds = settings_.flashTimeout();
    closeTimer_.invalidate();
    if (seconds >= 1) {
        closeTimer_ = RunLoop::main().scheduleTimer(seconds, true, [this] { closeMe(); });
    }
}

void ChatNotifierViewController::setTextLabel(const std::string& text) {
    textLabel_->setText(QString::fromStdString(text));
}

void ChatNotifierViewController::screenResize() {
    const int width = std::max(0, this->width() - 2 * kLabelMargin);
    const QString text = textLabel_->text();
    int height = kLabelPadding;
    if (!text.isEmpty()) {
        const QFontMetrics metrics(textLabel_->font());
        const QRect measured =
            metrics.boundingRect(QRect(0, 0, width, std::numeric_limits<int>::max() / 2),
                                 Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        height += measured.height();
    }
    // Centred vertically: the same from the top as from the bottom.
    const int y = static_cast<int>(std::lround(this->height() / 2.0 - height / 2.0));
    textLabel_->setGeometry(kLabelMargin, y, width, height);
}

void ChatNotifierViewController::closeMe() {
    if (isVisible()) close();
}

void ChatNotifierViewController::flash() {
    background_ = counter_ % 2 == 1
                      ? QColor(Qt::red)
                      : toQColor(colors_.colorForChatName(
                            sender_.empty() ? std::nullopt : std::optional<std::string>(sender_)));
    ++counter_;
    update();
}

void ChatNotifierViewController::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
}

void ChatNotifierViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    senderField_->setGeometry(kLabelMargin, kSenderTop, std::max(0, width() - 2 * kLabelMargin),
                              kSenderHeight);
    screenResize();
}

void ChatNotifierViewController::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void ChatNotifierViewController::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton;
    pressed_ = false;
    if (click) closeMe();
}

void ChatNotifierViewController::closeEvent(QCloseEvent* event) {
    viewWillDisappear();
    event->accept();
}

}  // namespace quenbril
