#pragma once

#include <QStyledItemDelegate>

namespace quenbril {

/// A pop-up cell: edits with a combo box of the items the model gives for the cell (its
/// ChannelStripTableModel::kItemsRole), starting at the item the cell shows. Only an item the
/// user chooses is written (the item's index), even when it is the one shown already; closing
/// the pop-up without a choice writes nothing.
class ComboBoxDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
};

}  // namespace quenbril
