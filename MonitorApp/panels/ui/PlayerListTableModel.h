#pragma once

#include <QAbstractTableModel>

namespace quenbril {

class PlayerManager;

/// The player list's table: one row per player of the player manager, showing its
/// display name. It keeps nothing of its own and reads the manager's list on every request, so
/// `reloadData` after a change is all a view needs. Main thread only.
class PlayerListTableModel : public QAbstractTableModel {
  public:
    explicit PlayerListTableModel(const PlayerManager& players, QObject* parent = nullptr);

    /// Tells the views that the whole list may have changed.
    void reloadData();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    /// The player's display name; nothing (and a log line) for a row past the end.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const PlayerManager& players_;
};

}  // namespace quenbril
