#include "MonitorApp/views/editor/ComboBoxDelegate.h"

#include <QComboBox>

#include "MonitorApp/views/editor/ChannelStripTableModel.h"

namespace quenbril {

namespace {

constexpr const char* kChosenProperty = "quenbrilChosen";

}  // namespace

QWidget* ComboBoxDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& /*option*/,
                                        const QModelIndex& index) const {
    auto* combo = new QComboBox(parent);
    combo->addItems(index.data(ChannelStripTableModel::kItemsRole).toStringList());
    // The choice is written at once, as a pop-up button acts when an item is chosen.
    connect(combo, &QComboBox::activated, this, [this, combo](int) {
        combo->setProperty(kChosenProperty, true);
        emit const_cast<ComboBoxDelegate*>(this)->commitData(combo);
        emit const_cast<ComboBoxDelegate*>(this)->closeEditor(combo);
    });
    return combo;
}

void ComboBoxDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* combo = static_cast<QComboBox*>(editor);
    const QVariant item = index.data(Qt::EditRole);
    combo->setCurrentIndex(item.isValid() ? item.toInt() : -1);
}

void ComboBoxDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
    auto* combo = static_cast<QComboBox*>(editor);
    if (!combo->property(kChosenProperty).toBool() || combo->currentIndex() < 0) return;
    combo->setProperty(kChosenProperty, false);
    model->setData(index, combo->currentIndex(), Qt::EditRole);
}

}  // namespace quenbril
