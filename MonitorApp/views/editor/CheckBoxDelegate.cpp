#include "MonitorApp/views/editor/CheckBoxDelegate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace quenbril {

void CheckBoxDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    // The background and selection as any cell, then the box alone in the cell's middle.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    cell.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    QStyleOptionButton box;
    box.state = option.state & QStyle::State_Enabled;
    box.state |= index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On
                                                                       : QStyle::State_Off;
    const QRect indicator = style->subElementRect(QStyle::SE_CheckBoxIndicator, &box, widget);
    box.rect =
        QRect(option.rect.center() - indicator.center() + indicator.topLeft(), indicator.size());
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
}

bool CheckBoxDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (!(index.flags() & Qt::ItemIsUserCheckable) || !(index.flags() & Qt::ItemIsEnabled)) {
        return false;
    }
    bool toggle = false;
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton ||
                !option.rect.contains(mouse->position().toPoint())) {
                return false;
            }
            // Plain presses toggle; with a modifier the press changes the selection as usual.
            if (mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return false;
            toggle = true;
            break;
        }
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return false;
            // The press has toggled already.
            return option.rect.contains(mouse->position().toPoint());
        }
        case QEvent::KeyPress:
            toggle = static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space;
            if (!toggle) return false;
            break;
        default:
            return false;
    }
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    return true;
}

}  // namespace quenbril
