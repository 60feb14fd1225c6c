#include "MonitorApp/channelstrips/ui/PlaceholderGroupButton.h"

#include <QMouseEvent>
#include <QPainter>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/channelstrips/ui/StripGeometry.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

// Below this width the button keeps a narrower margin.
constexpr int kNarrowWidth = 55;
constexpr int kBarHeight = 5;
constexpr int kBarInset = 3;
constexpr double kBorderWidth = 2.0;

}  // namespace

PlaceholderGroupButton::PlaceholderGroupButton(QWidget& parent, const std::string& text,
                                               const std::optional<Color>& color,
                                               int32_t groupNumber)
    : QWidget(&parent), groupID_(groupNumber), title_(QString::fromStdString(text)) {
    setColor(color);
    setState(0);
}

void PlaceholderGroupButton::setState(int32_t state) {
    state_ = state;
    if (state == 0) {
        whiteBackground_ = false;
    } else if (state == 2) {
        whiteBackground_ = true;
    }
    update();
}

void PlaceholderGroupButton::setColor(const std::optional<Color>& color) {
    if (color) color_ = toQColor(*color);
    update();
}

void PlaceholderGroupButton::setGroupName(const std::string& name) {
    title_ = QString::fromStdString(name);
    update();
}

void PlaceholderGroupButton::setFrame(const Rect& frame) { setGeometry(toQRect(frame)); }

QColor PlaceholderGroupButton::titleColor() const {
    return state_ == 1 ? QColor(Qt::green) : QColor(Qt::white);
}

void PlaceholderGroupButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int inset = width() < kNarrowWidth ? 3 : 6;
    const QRectF face(inset / 2.0, 0, width() - inset, height());
    if (whiteBackground_) {
        painter.fillRect(face, Qt::white);
    }
    // Any state but 0, 1 and 2 keeps the look of the one before.
    if (state_ == 1 || state_ == 2) {
        const double half = kBorderWidth / 2;
        painter.setPen(QPen(state_ == 1 ? QColor(Qt::green) : QColor(Qt::white), kBorderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(face.adjusted(half, half, -half, -half));
    }
    if (color_.isValid()) {
        painter.fillRect(QRectF(face.x() + kBarInset, height() - kBarInset - kBarHeight,
                                face.width() - 2 * kBarInset, kBarHeight),
                         color_);
    }
    painter.setPen(titleColor());
    painter.drawText(face.adjusted(0, 0, 0, -(kBarInset + kBarHeight)), Qt::AlignCenter, title());
}

void PlaceholderGroupButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    longClicked_ = false;
    longClickTimer_ = RunLoop::main().scheduleTimer(kLongClickSeconds, false, [this] {
        longClicked_ = true;
        QLOG("Long click gb");
        post(kGroupLongClickedNotification);
    });
}

void PlaceholderGroupButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    longClickTimer_.invalidate();
    if (!longClicked_) post(kGroupClickedNotification);
    longClicked_ = false;
}

void PlaceholderGroupButton::post(const char* name) const {
    NotificationCenter::defaultCenter().post(name, Dictionary{{"index", groupID_}});
}

}  // namespace quenbril
