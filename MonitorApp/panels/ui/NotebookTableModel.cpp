#include "MonitorApp/panels/ui/NotebookTableModel.h"

#include <QFont>
#include <array>

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/MediumTimeText.h"

namespace quenbril {

namespace {

struct Column {
    const char* identifier;
    const char* title;
};

constexpr std::array<Column, 6> kColumns{{{"Note", "Note"},
                                          {"LTC", "LTC"},
                                          {"Time", "Time"},
                                          {"Creator", "Creator"},
                                          {"Channel", "Channel"},
                                          {"AudioInput", "Audio input"}}};

QString fromStd(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(*text) : QString();
}

}  // namespace

NotebookTableModel::NotebookTableModel(NotebookManager& notebook, const ChannelStripManager& strips,
                                       QObject* parent)
    : QAbstractTableModel(parent), notebook_(notebook), strips_(strips) {}

int NotebookTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(notebook_.notebookEntries().size());
}

int NotebookTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kColumns.size());
}

std::string NotebookTableModel::identifier(int column) {
    if (column < 0 || column >= static_cast<int>(kColumns.size())) return {};
    return kColumns[column].identifier;
}

int NotebookTableModel::column(const std::string& identifier) {
    for (size_t i = 0; i < kColumns.size(); ++i) {
        if (identifier == kColumns[i].identifier) return static_cast<int>(i);
    }
    return -1;
}

bool NotebookTableModel::showsClickChannel(int row) const {
    const auto& list = notebook_.notebookEntries();
    return row >= 0 && static_cast<size_t>(row) + 1 == list.size() && list[row]->csID() == 0;
}

QString NotebookTableModel::value(int row, const std::string& identifier) const {
    const auto& list = notebook_.notebookEntries();
    if (row < 0 || static_cast<size_t>(row) >= list.size()) return {};
    const TimelineEntry& entry = *list[row];
    if (identifier == "Note") return fromStd(entry.note());
    if (identifier == "Creator") return fromStd(entry.creator());
    if (identifier == "Time") return QString::fromStdString(mediumTimeText(entry.time()));
    if (identifier == "LTC") {
        const SMPTETimecode ltc = entry.ltc();
        return QString::asprintf("%02d:%02d:%02d", ltc.hours, ltc.mins, ltc.secs);
    }
    if (identifier == "Channel") {
        if (showsClickChannel(row)) return kClickChannel;
        const ChannelStripController* strip = strips_.find(entry.csID());
        if (!strip) return kNotAvailable;
        return strip->view() ? QString::fromStdString(strip->view()->getTitle()) : QString();
    }
    if (identifier == "AudioInput") {
        const ChannelStripController* strip = strips_.find(entry.csID());
        if (!strip) return kNotAvailable;
        return QString::number(static_cast<int64_t>(strip->model().audioInput()) + 1);
    }
    return {};
}

QVariant NotebookTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const std::string id = identifier(index.column());
    if (role == Qt::DisplayRole) return value(index.row(), id);
    if (role == Qt::FontRole && id == "Channel" && showsClickChannel(index.row())) {
        QFont font("Arial");
        font.setItalic(true);
        font.setPointSize(12);
        return font;
    }
    return {};
}

QVariant NotebookTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= static_cast<int>(kColumns.size())) return {};
    return QString(kColumns[section].title);
}

void NotebookTableModel::reloadData() {
    // The strips may have changed since the last reload; the map costs one pass over them.
    strips_.invalidate();
    beginResetModel();
    endResetModel();
}

}  // namespace quenbril
