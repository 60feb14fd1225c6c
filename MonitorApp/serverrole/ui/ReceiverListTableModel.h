#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <string>

namespace quenbril {

class ReceiverListModel;

/// The receiver table's rows as Qt reads them: the address (plain text, editable) and the
/// device type of each entry of the list. It keeps nothing of its own; an address edit goes to
/// `commit`, which answers whether it was taken. Main thread only.
class ReceiverListTableModel : public QAbstractTableModel {
  public:
    using Commit = std::function<bool(const std::string& text, int row)>;

    ReceiverListTableModel(const ReceiverListModel& rules, Commit commit, QObject* parent);

    /// Tells the views that the whole list may have changed.
    void reloadData();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const ReceiverListModel& rules_;
    Commit commit_;
};

}  // namespace quenbril
