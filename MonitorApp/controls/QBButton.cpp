#include "MonitorApp/controls/QBButton.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "MonitorApp/controls/QBButtonDelegate.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/RunLoop.h"

namespace quenbril {

QBButton::QBButton(QWidget* parent, Style style)
    : QWidget(parent),
      up_(QStringLiteral("GR_up.png")),
      down_(QStringLiteral("GR_down.png")),
      red_(QStringLiteral("GR_red.png")) {
    field_ = new QLabel(this);
    // The label is part of the face: presses on it belong to the button.
    field_->setAttribute(Qt::WA_TransparentForMouseEvents);
    field_->setAlignment(Qt::AlignCenter);
    field_->setTextFormat(Qt::PlainText);
    titleFont_ = QFont(QStringLiteral("Roboto"), style == Style::Header ? 12 : 10);
    field_->setFont(titleFont_);
    if (style == Style::Header) field_->setStyleSheet(QStringLiteral("border: 1px solid blue;"));
    setTextColor(Qt::white);
    field_->setGeometry(rect());
}

QBButton::~QBButton() = default;

void QBButton::setTitle(const std::string& title) {
    title_ = title;
    fitTitle();
}

void QBButton::fitTitle() {
    // A title wider than its label is shown smaller, then shortened with an ellipsis: never cut
    // at the label's edges.
    const QString text = QString::fromStdString(title_).toUpper();
    const double room = field_->contentsRect().width();
    QFont font = titleFont_;
    for (double size = titleFont_.pointSizeF(); room > 0 && size >= kSmallestTitleSize;
         size -= 0.5) {
        font.setPointSizeF(size);
        if (QFontMetricsF(font).horizontalAdvance(text) <= room) break;
    }
    field_->setFont(font);
    const bool fits = room <= 0 || QFontMetricsF(font).horizontalAdvance(text) <= room;
    field_->setText(fits ? text : QFontMetricsF(font).elidedText(text, Qt::ElideRight, room));
}

QString QBButton::shownTitle() const { return field_->text(); }

void QBButton::setTextColor(const QColor& color) {
    QPalette palette = field_->palette();
    palette.setColor(QPalette::WindowText, color);
    field_->setPalette(palette);
}

QColor QBButton::textColor() const { return field_->palette().color(QPalette::WindowText); }

void QBButton::setAlarm(bool on) { show(on ? red_ : up_); }

void QBButton::setUpImage(const QString& name) {
    const bool showingUp = current_ == &up_;
    up_ = ControlImage(name);
    if (showingUp) update();
}

void QBButton::show(const ControlImage& image) {
    current_ = &image;
    update();
}

void QBButton::setFieldGeometry(const QRect& geometry) {
    fieldPlaced_ = true;
    field_->setGeometry(geometry);
    fitTitle();
}

void QBButton::setFaceBackground(const QColor& color) {
    faceBackground_ = color;
    update();
}

void QBButton::setFaceBorder(const QColor& color, double width) {
    faceBorderColor_ = color;
    faceBorderWidth_ = width;
    update();
}

void QBButton::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    update();
}

void QBButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (faceBackground_.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(faceBackground_);
        painter.drawRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    }
    if (!current_->draw(painter, rect())) {
        // Without the image: a flat face of the same meaning.
        Color face = ColorHelper::vozodDarkGray();
        if (current_ == &down_) face = ColorHelper::vozodLightGray();
        if (current_ == &red_) face = ColorHelper::vozodRed();
        painter.fillRect(rect(), toQColor(face));
    }
    if (faceBorderWidth_ > 0 && faceBorderColor_.alpha() > 0) {
        // Inside the face, as a layer's border is.
        const double half = faceBorderWidth_ / 2;
        painter.setPen(QPen(faceBorderColor_, faceBorderWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), cornerRadius_,
                                cornerRadius_);
    }
}

void QBButton::resizeEvent(QResizeEvent*) {
    if (fieldPlaced_) return;
    field_->setGeometry(rect());
    fitTitle();
}

void QBButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressed_ = true;
    show(down_);
    longTimerExpired_ = false;
    longTimer_ =
        RunLoop::main().scheduleTimer(kLongClickTime, false, [this] { longClickTimerExpired(); });
}

void QBButton::longClickTimerExpired() {
    longTimerExpired_ = true;
    longTimer_ = Timer();
    if (delegate_) delegate_->QBButtonLongClicked(*this);
}

void QBButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        event->ignore();
        return;
    }
    pressed_ = false;
    longTimer_.invalidate();
    show(up_);
    // Last: the delegate may take the button away.
    if (!longTimerExpired_ && delegate_) delegate_->QBButtonClicked(*this);
}

void QBButton::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::EnabledChange || isEnabled() || !pressed_) return;
    pressed_ = false;
    longTimer_.invalidate();
    show(up_);
}

}  // namespace quenbril
