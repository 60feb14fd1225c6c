#include "MonitorApp/views/editor/ChannelStripTableModel.h"

#include <QMimeData>
#include <algorithm>
#include <set>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

QString text(const std::optional<std::string>& s) {
    return s ? QString::fromStdString(*s) : QString();
}

/// The item titled `title` among `items` from `first` on.
std::optional<int> position(const QStringList& items, const std::optional<std::string>& title,
                            int first) {
    if (!title) return std::nullopt;
    const QString wanted = QString::fromStdString(*title);
    for (int i = first; i < items.size(); ++i) {
        if (items[i] == wanted) return i;
    }
    return std::nullopt;
}

}  // namespace

ChannelStripTableModel::ChannelStripTableModel(Controllers& controllers, QObject* parent)
    : QAbstractTableModel(parent), controllers_(controllers) {}

const char* ChannelStripTableModel::identifier(int column) {
    static constexpr const char* kIdentifiers[ColumnCount] = {
        "name", "wireless", "scp", "rf", "pan", "gain", "panel", "player", "inputChannel"};
    return column >= 0 && column < ColumnCount ? kIdentifiers[column] : nullptr;
}

void ChannelStripTableModel::setItems(Column column, QStringList items) {
    items_[column] = std::move(items);
    if (rowCount() > 0) emit dataChanged(index(0, column), index(rowCount() - 1, column));
}

std::optional<int> ChannelStripTableModel::itemIndex(const ChannelStripController& controller,
                                                     Column column) const {
    const ChannelStripModel& model = controller.model();
    switch (column) {
        case Wireless:
            // A receiver that is not among the names shows as "No device".
            return position(items_[Wireless], model.wirelessName(), 1).value_or(0);
        case Panel:
            return model.panel() && *model.panel() == "A" ? 0 : 1;
        case Player:
            return position(items_[Player], model.playerName(), 1);
        case InputChannel:
            return model.audioInput();
        default:
            return std::nullopt;
    }
}

void ChannelStripTableModel::reset() {
    beginResetModel();
    ++generation_;
    sourceIndex_.clear();
    endResetModel();
}

void ChannelStripTableModel::reloadData() {
    // The rows keep their generation: the strips are the same ones, in a new order.
    beginResetModel();
    endResetModel();
}

bool ChannelStripTableModel::isCurrent(const QModelIndex& index) const {
    return index.isValid() && index.model() == this && index.internalId() == generation_ &&
           index.row() < rowCount();
}

ChannelStripController* ChannelStripTableModel::controllerAt(const QModelIndex& index) const {
    return isCurrent(index) ? controllerAt(index.row()) : nullptr;
}

ChannelStripController* ChannelStripTableModel::controllerAt(int32_t row) const {
    if (row < 0 || static_cast<size_t>(row) >= controllers_.size()) return nullptr;
    return controllers_[static_cast<size_t>(row)].get();
}

int ChannelStripTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(controllers_.size());
}

int ChannelStripTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QModelIndex ChannelStripTableModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) return {};
    return createIndex(row, column, generation_);
}

QVariant ChannelStripTableModel::data(const QModelIndex& index, int role) const {
    const ChannelStripController* controller = controllerAt(index);
    if (!controller) return {};
    const ChannelStripModel& model = controller->model();
    const auto column = static_cast<Column>(index.column());
    if (role == kItemsRole) return items_[column];
    if (role == Qt::CheckStateRole) {
        if (column == Scp) return model.scpEnabled() ? Qt::Checked : Qt::Unchecked;
        if (column == Rf) return model.rfWarnEnabled() ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    switch (column) {
        case Name:
            return text(model.name());
        case Pan:
            return model.pan();
        case Gain:
            return model.gain();
        case Wireless:
        case Panel:
        case Player:
        case InputChannel: {
            const std::optional<int> item = itemIndex(*controller, column);
            if (role == Qt::EditRole) return item ? QVariant(*item) : QVariant();
            const QStringList& titles = items_[column];
            return item && *item >= 0 && *item < titles.size() ? titles[*item] : QString();
        }
        default:
            return {};
    }
}

QVariant ChannelStripTableModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
    static const char* const kTitles[ColumnCount] = {"Name", "Wireless", "SCP",    "RF",   "Pan",
                                                     "Gain", "Panel",    "Player", "Input"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= ColumnCount) return {};
    return QString(kTitles[section]);
}

bool ChannelStripTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    // An edit begun on a table that was replaced since reaches no strip.
    if (!controllerAt(index) || !editHandler_) return false;
    const auto column = static_cast<Column>(index.column());
    const bool check = column == Scp || column == Rf;
    if (check != (role == Qt::CheckStateRole)) return false;
    if (!check && role != Qt::EditRole) return false;
    const bool changed = editHandler_(index.row(), column, check ? QVariant() : value);
    if (changed && rowCount() > 0) {
        // Edits may reach other selected rows too.
        emit dataChanged(this->index(0, 0), this->index(rowCount() - 1, ColumnCount - 1));
    }
    return changed;
}

Qt::ItemFlags ChannelStripTableModel::flags(const QModelIndex& index) const {
    // Drops land between rows, which the table's root stands for; never onto a row.
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == Scp || index.column() == Rf) return flags | Qt::ItemIsUserCheckable;
    return flags | Qt::ItemIsEditable;
}

QStringList ChannelStripTableModel::mimeTypes() const { return {kDragType}; }

QMimeData* ChannelStripTableModel::mimeData(const QModelIndexList& indexes) const {
    std::set<int32_t> rows;
    for (const QModelIndex& index : indexes) {
        if (isCurrent(index)) rows.insert(index.row());
    }
    Array archived;
    for (int32_t row : rows) archived.emplace_back(row);
    Error error;
    const std::optional<Bytes> archive = KeyedArchiver::archivedData(Value(archived), &error);
    if (!archive) {
        log(LogLevel::Error, "The dragged rows could not be archived: %s",
            error.description.c_str());
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData(kDragType, QByteArray(reinterpret_cast<const char*>(archive->data()),
                                        static_cast<qsizetype>(archive->size())));
    sourceIndex_.assign(rows.begin(), rows.end());
    return data;
}

std::optional<std::vector<int32_t>> ChannelStripTableModel::draggedRows(
    const QMimeData* data) const {
    if (!data || !data->hasFormat(kDragType)) return std::nullopt;
    const QByteArray bytes = data->data(kDragType);
    const std::optional<Value> value =
        KeyedUnarchiver::unarchive(bytes.constData(), static_cast<size_t>(bytes.size()));
    const Array* rows = value ? value->arrayValue() : nullptr;
    if (!rows || rows->empty()) return std::nullopt;
    std::set<int32_t> unique;
    for (const Value& row : *rows) {
        const std::optional<int32_t> n = row.isInteger() ? row.intValue() : std::nullopt;
        if (!n || *n < 0 || *n >= rowCount()) return std::nullopt;
        unique.insert(*n);
    }
    return std::vector<int32_t>(unique.begin(), unique.end());
}

Qt::DropActions ChannelStripTableModel::supportedDragActions() const { return Qt::CopyAction; }

Qt::DropActions ChannelStripTableModel::supportedDropActions() const { return Qt::CopyAction; }

bool ChannelStripTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction /*action*/,
                                             int row, int /*column*/,
                                             const QModelIndex& parent) const {
    if (parent.isValid()) return false;
    (void)row;
    return data && data->hasFormat(kDragType);
}

bool ChannelStripTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                          int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent) || !dropHandler_) return false;
    const std::optional<std::vector<int32_t>> rows = draggedRows(data);
    if (!rows) return false;
    // Below the last row: the end of the list.
    const int32_t at = row < 0 || row > rowCount() ? rowCount() : row;
    return dropHandler_(*rows, at);
}

}  // namespace quenbril
