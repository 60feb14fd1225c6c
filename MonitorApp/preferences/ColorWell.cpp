#include "MonitorApp/preferences/ColorWell.h"

#include <QColorDialog>
#include <QPainter>

#include "MonitorApp/controls/QtColor.h"

namespace quenbril {

namespace {

std::optional<Color> pickWithDialog(const Color& current, QWidget* parent) {
    const QColor chosen = QColorDialog::getColor(toQColor(current), parent, "Colour");
    if (!chosen.isValid()) return std::nullopt;
    return fromQColor(chosen);
}

}  // namespace

ColorWell::ColorWell(QWidget* parent) : QPushButton(parent), picker_(pickWithDialog) {
    setFixedSize(44, 22);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QPushButton::clicked, this, [this] { pick(); });
}

void ColorWell::setColor(const Color& color) {
    color_ = color;
    update();
}

void ColorWell::pick() {
    if (!picker_) return;
    if (auto chosen = picker_(color_, this)) setColor(*chosen);
}

void ColorWell::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(rect().adjusted(5, 5, -5, -5), toQColor(color_));
}

}  // namespace quenbril
