#include "MonitorApp/serverrole/ui/IPListTableView.h"

#include <QComboBox>
#include <QHeaderView>

#include "MonitorApp/controls/ListWindow.h"
#include "MonitorApp/serverrole/ui/ReceiverListTableModel.h"

namespace quenbril {

IPListTableView::IPListTableView(QWidget* parent) : QTableView(parent) {
    auto* model = new ReceiverListTableModel(
        rules_, [this](const std::string& text, int row) { return textDidEndEditing(text, row); },
        this);
    model_ = model;
    setModel(model);
    ListWindow::setUpTable(this, false);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    setColumnWidth(kIPColumn, 180);
}

IPListTableView::~IPListTableView() = default;

void IPListTableView::setDevices(ReceiverListModel::Receivers* devices) {
    rules_.setDevices(devices);
    reloadData();
}

void IPListTableView::reloadData() {
    static_cast<ReceiverListTableModel*>(model_)->reloadData();
    for (int row = 0; row < rules_.numberOfRows(); ++row) {
        auto* menu = new QComboBox;
        for (int type = 0; type < ReceiverListModel::kDeviceTypeCount; ++type) {
            menu->addItem(QString::fromUtf8(ReceiverListModel::deviceTypeTitle(type)));
        }
        const Value type = rules_.objectValue(ReceiverListModel::kDeviceTypeColumn, row);
        menu->setCurrentIndex(static_cast<int>(type.longLongValue().value_or(0)));
        // The row is looked up when the item is picked: rows move as others are removed.
        connect(menu, &QComboBox::activated, this, [this, menu](int index) {
            for (int r = 0; r < model_->rowCount(); ++r) {
                if (indexWidget(model_->index(r, kDeviceTypeColumn)) == menu) {
                    selectRow(r);
                    if (typeChanged_) typeChanged_(r, index);
                    return;
                }
            }
        });
        setIndexWidget(model_->index(row, kDeviceTypeColumn), menu);
    }
}

bool IPListTableView::textDidEndEditing(const std::string& text, int row) {
    if (rules_.commitAddress(text, row) != ReceiverListModel::Edit::Accepted) return false;
    // The reload waits until the editor has handed over its text.
    QMetaObject::invokeMethod(
        this, [this] { reloadData(); }, Qt::QueuedConnection);
    return true;
}

QComboBox* IPListTableView::typeMenu(int row) const {
    return qobject_cast<QComboBox*>(indexWidget(model_->index(row, kDeviceTypeColumn)));
}

}  // namespace quenbril
