#pragma once

#include <QAbstractTableModel>
#include <cstdint>

#include "MonitorApp/panels/ui/StripIDMap.h"

namespace quenbril {

class ChannelStripController;
class ChannelStripManager;

/// The mic-check table: one row per strip of the strip list, in list order, showing the
/// strip's mic-check record. The strip name is green when the strip needs checking and was
/// checked, red when it needs checking and was not, grey otherwise. Rows find their strips by
/// csID (StripIDMap), so a row whose strip has left the list shows nothing. Main thread only.
class MicCheckTableModel : public QAbstractTableModel {
  public:
    enum Column { kName, kUser, kNote, kTime, kChecked, kColumnCount };

    explicit MicCheckTableModel(ChannelStripManager& strips, QObject* parent = nullptr);

    /// Takes the rows from the strip list. The same strips in the same order keep the view's
    /// selection (only the cells change); any other change resets the table.
    void reloadData();
    /// The strip shown in `row`, or null (out of range, or gone from the list).
    ChannelStripController* controllerAt(int32_t row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    /// The colour of a strip name for a record.
    static QColor nameColor(bool needsChecking, bool checked);

  private:
    ChannelStripManager& strips_;
    // Look-ups refresh the map when the list changed, hence mutable behind const data().
    mutable StripIDMap rows_;
};

}  // namespace quenbril
