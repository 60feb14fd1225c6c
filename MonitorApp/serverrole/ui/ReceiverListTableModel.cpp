#include "MonitorApp/serverrole/ui/ReceiverListTableModel.h"

#include "MonitorApp/serverrole/receiverlist/ReceiverListModel.h"
#include "MonitorApp/serverrole/ui/IPListTableView.h"

namespace quenbril {

ReceiverListTableModel::ReceiverListTableModel(const ReceiverListModel& rules, Commit commit,
                                               QObject* parent)
    : QAbstractTableModel(parent), rules_(rules), commit_(std::move(commit)) {}

void ReceiverListTableModel::reloadData() {
    beginResetModel();
    endResetModel();
}

int ReceiverListTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rules_.numberOfRows();
}

int ReceiverListTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant ReceiverListTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    const bool ip = index.column() == IPListTableView::kIPColumn;
    const Value value = rules_.objectValue(
        ip ? ReceiverListModel::kIPColumn : ReceiverListModel::kDeviceTypeColumn, index.row());
    if (const std::string* text = value.stringValue()) return QString::fromStdString(*text);
    if (value.isInteger()) return QVariant::fromValue(*value.longLongValue());
    return {};
}

bool ReceiverListTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != IPListTableView::kIPColumn || !commit_) {
        return false;
    }
    return commit_(value.toString().toStdString(), index.row());
}

Qt::ItemFlags ReceiverListTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == IPListTableView::kIPColumn) flags |= Qt::ItemIsEditable;
    return flags;
}

QVariant ReceiverListTableModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == IPListTableView::kIPColumn ? QStringLiteral("IP")
                                                 : QStringLiteral("Device type");
}

}  // namespace quenbril
