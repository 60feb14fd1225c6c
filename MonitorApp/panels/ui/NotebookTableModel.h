#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <string>

#include "MonitorApp/panels/ui/StripLookup.h"

namespace quenbril {

class ChannelStripManager;
class NotebookManager;

/// The notebook window's table over the notebook: one row per note, read from the
/// notebook manager whenever the table asks. Columns by identifier: "Note", "LTC", "Time",
/// "Creator", "Channel" and "AudioInput". Every text is plain text.
class NotebookTableModel : public QAbstractTableModel {
  public:
    static constexpr const char* kClickChannel = "<Click channel>";
    static constexpr const char* kNotAvailable = "<Not available>";

    NotebookTableModel(NotebookManager& notebook, const ChannelStripManager& strips,
                       QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// The column's identifier; empty for a column beyond the table.
    static std::string identifier(int column);
    /// The column with that identifier, or -1.
    static int column(const std::string& identifier);
    /// What a cell shows; empty for a row beyond the list and for an unknown identifier.
    QString value(int row, const std::string& identifier) const;
    /// Whether the cell shows "<Click channel>": a note with no strip in the last row.
    bool showsClickChannel(int row) const;

    /// Reads the list and the strips anew.
    void reloadData();

  private:
    NotebookManager& notebook_;
    mutable StripLookup strips_;
};

}  // namespace quenbril
