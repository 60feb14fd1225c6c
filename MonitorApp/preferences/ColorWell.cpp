#include "MonitorApp/preferences/ColorWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QPointer>

#include "MonitorApp/controls/ModalOwner.h"
#include "MonitorApp/controls/QtColor.h"

namespace quenbril {

namespace {

std::optional<Color> pickWithDialog(const Color& current, QWidget* parent) {
    const ModalOwner owner(parent);
    // On the heap: should the asking window go while the dialog is open, it takes the dialog
    // along.
    QPointer<QColorDialog> dialog = new QColorDialog(toQColor(current), owner.window());
    dialog->setWindowTitle("Colour");
    owner.adopt(*dialog);
    const bool chosen = dialog->exec() == QDialog::Accepted && dialog;
    const QColor colour = chosen ? dialog->selectedColor() : QColor();
    delete dialog.data();
    owner.restoreFocus();
    if (!colour.isValid()) return std::nullopt;
    return fromQColor(colour);
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
