#include "MonitorApp/panels/ui/MicCheckTableModel.h"

#include <QColor>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/panels/ui/MediumDateText.h"
#include "MonitorApp/settings/ColorHelper.h"

namespace quenbril {

MicCheckTableModel::MicCheckTableModel(ChannelStripManager& strips, QObject* parent)
    : QAbstractTableModel(parent), strips_(strips) {}

void MicCheckTableModel::reloadData() {
    const auto& list = strips_.controllers();
    bool sameRows = static_cast<size_t>(rows_.rowCount()) == list.size();
    for (size_t i = 0; sameRows && i < list.size(); ++i) {
        sameRows = rows_.csIDAt(static_cast<int32_t>(i)) == list[i]->model().csID();
    }
    if (sameRows) {
        if (!list.empty()) {
            emit dataChanged(index(0, 0), index(rows_.rowCount() - 1, kColumnCount - 1));
        }
        return;
    }
    beginResetModel();
    rows_.reload(list);
    endResetModel();
}

ChannelStripController* MicCheckTableModel::controllerAt(int32_t row) {
    return rows_.controllerAt(strips_.controllers(), row);
}

int MicCheckTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_.rowCount();
}

int MicCheckTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QColor MicCheckTableModel::nameColor(bool needsChecking, bool checked) {
    if (!needsChecking) return QColor(Qt::gray);
    return toQColor(checked ? ColorHelper::vozodGreen() : ColorHelper::vozodRed());
}

QVariant MicCheckTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const ChannelStripController* controller =
        rows_.controllerAt(strips_.controllers(), index.row());
    if (!controller) return {};
    const MicCheckState& check = controller->state().micCheckState();
    const auto column = static_cast<Column>(index.column());
    if (role == Qt::ForegroundRole) {
        if (column == kName) return nameColor(check.needsChecking(), check.checked());
        return QColor(Qt::white);
    }
    if (role == Qt::CheckStateRole && column == kChecked) {
        return check.checked() ? Qt::Checked : Qt::Unchecked;
    }
    if (role != Qt::DisplayRole) return {};
    // A table cell shows its text as it is: names, users and notes never become markup.
    switch (column) {
        case kName:
            return QString::fromStdString(controller->model().name().value_or(""));
        case kUser:
            return QString::fromStdString(check.user());
        case kNote:
            return QString::fromStdString(check.note());
        case kTime:
            // The server gives a strip never checked the time 0: no time to show.
            if (!check.time() || check.time()->secondsSinceReferenceDate == 0) return QString();
            return MediumDateText::dateTime(*check.time());
        default:
            return {};
    }
}

QVariant MicCheckTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    switch (section) {
        case kName:
            return QStringLiteral("Channel");
        case kUser:
            return QStringLiteral("User");
        case kNote:
            return QStringLiteral("Note");
        case kTime:
            return QStringLiteral("Time");
        case kChecked:
            return QStringLiteral("Checked");
        default:
            return {};
    }
}

}  // namespace quenbril
