#pragma once

#include <QStyledItemDelegate>

namespace quenbril {

/// A check-box cell that toggles on the press of the mouse, before the table would change its
/// selection: a click in a selected row keeps the selection, so that the editor can write the
/// new value to every selected row. The space key toggles the current cell too.
class CheckBoxDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

}  // namespace quenbril
