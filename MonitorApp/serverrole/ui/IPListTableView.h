#pragma once

#include <QTableView>
#include <functional>

#include "MonitorApp/serverrole/receiverlist/ReceiverListModel.h"

class QAbstractTableModel;
class QComboBox;

namespace quenbril {

/// The receiver list's table: the column "IP" edited in place, whose edits the table commits
/// itself through the list's address check, and the column "DEVICE_TYPE", one type menu per
/// row whose item index is the type. It reads the list it edits (`devices`) on every reload.
/// Main thread only.
class IPListTableView : public QTableView {
  public:
    static constexpr int kIPColumn = 0;
    static constexpr int kDeviceTypeColumn = 1;

    explicit IPListTableView(QWidget* parent = nullptr);
    ~IPListTableView() override;

    ReceiverListModel::Receivers* devices() const { return rules_.devices(); }
    void setDevices(ReceiverListModel::Receivers* devices);
    ReceiverListModel& rules() { return rules_; }

    /// Reads the list again and remakes the type menus.
    void reloadData();
    /// Commits an address edit of `row`: accepted only with exactly 4 parts at "." and a row
    /// in the list, and then the table reloads.
    bool textDidEndEditing(const std::string& text, int row);

    /// The type menu of `row`, or null.
    QComboBox* typeMenu(int row) const;
    /// Told when the operator picks an item of a row's type menu: the row and the item index.
    void setTypeChanged(std::function<void(int row, int index)> handler) {
        typeChanged_ = std::move(handler);
    }

  private:
    ReceiverListModel rules_;
    QAbstractTableModel* model_ = nullptr;
    std::function<void(int, int)> typeChanged_;
};

}  // namespace quenbril
