#include "MonitorApp/panels/ui/PlayerListTableModel.h"

#include "MonitorApp/settings/PlayerManager.h"
#include "foundation/Log.h"

namespace quenbril {

PlayerListTableModel::PlayerListTableModel(const PlayerManager& players, QObject* parent)
    : QAbstractTableModel(parent), players_(players) {}

void PlayerListTableModel::reloadData() {
    beginResetModel();
    endResetModel();
}

int PlayerListTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(players_.players().size());
}

int PlayerListTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant PlayerListTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const auto& list = players_.players();
    if (index.row() < 0 || static_cast<size_t>(index.row()) >= list.size()) {
        log(LogLevel::Warning, "internal error!");
        return {};
    }
    // A QTableView shows the text as it is: names and roles never become markup.
    return QString::fromStdString(list[static_cast<size_t>(index.row())]->displayName());
}

QVariant PlayerListTableModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section == 0) {
        return QStringLiteral("Player");
    }
    return {};
}

}  // namespace quenbril
