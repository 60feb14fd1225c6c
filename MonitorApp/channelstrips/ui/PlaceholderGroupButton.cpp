#include "MonitorApp/channelstrips/ui/PlaceholderGroupButton.h"

#include <QPainter>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/channelstrips/ui/StripGeometry.h"
#include "MonitorApp/controls/QtColor.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"

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
    : QBButton(&parent, Style::Plain), groupID_(groupNumber) {
    setTitle(text);
    setDelegate(this);
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
    setTextColor(state == 1 ? QColor(Qt::green) : QColor(Qt::white));
    update();
}

void PlaceholderGroupButton::setColor(const std::optional<Color>& color) {
    if (color) color_ = toQColor(*color);
    update();
}

void PlaceholderGroupButton::setFrame(const Rect& frame) { setGeometry(toQRect(frame)); }

void PlaceholderGroupButton::QBButtonClicked(QBButton& /*button*/) {
    post(kGroupClickedNotification);
}

void PlaceholderGroupButton::QBButtonLongClicked(QBButton& /*button*/) {
    QLOG("Long click gb");
    post(kGroupLongClickedNotification);
}

void PlaceholderGroupButton::paintEvent(QPaintEvent* event) {
    QBButton::paintEvent(event);
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
}

void PlaceholderGroupButton::post(const char* name) const {
    NotificationCenter::defaultCenter().post(name, Dictionary{{"index", groupID_}});
}

}  // namespace quenbril
