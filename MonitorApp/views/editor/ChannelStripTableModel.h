#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quenbril {

class ChannelStripController;

/// The strip editor's table: one row per strip controller of a strip manager, in list order,
/// and the nine columns of the strip record. It shows the records; every edit goes to the
/// editor's handlers, which apply the editor's rules.
///
/// Each index carries the table's generation: once the strips were replaced (reset()), an index
/// of the old table reaches no strip.
class ChannelStripTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    /// A strip manager's list of strips.
    using Controllers = std::vector<std::unique_ptr<ChannelStripController>>;
    enum Column { Name, Wireless, Scp, Rf, Pan, Gain, Panel, Player, InputChannel, ColumnCount };
    /// The pop-up cells' items, as a QStringList.
    static constexpr int kItemsRole = Qt::UserRole + 1;
    /// The private type rows are dragged as: the keyed archive of the dragged rows.
    static constexpr const char* kDragType = "MyDataType";

    /// An edit of `column` at `row`: the text typed, the item chosen (int), or the check box's
    /// click (no value). Answers whether the table changed.
    using EditHandler = std::function<bool(int32_t row, Column column, const QVariant& value)>;
    /// A drop of `rows` between rows at `row`. Answers whether it was accepted.
    using DropHandler = std::function<bool(const std::vector<int32_t>& rows, int32_t row)>;

    /// A table over `controllers` (a strip manager's list, which outlives the model).
    explicit ChannelStripTableModel(Controllers& controllers, QObject* parent = nullptr);

    /// The identifier of a column ("name" ... "inputChannel"); null for any other.
    static const char* identifier(int column);
    void setEditHandler(EditHandler handler) { editHandler_ = std::move(handler); }
    void setDropHandler(DropHandler handler) { dropHandler_ = std::move(handler); }
    /// The items of the pop-up column.
    void setItems(Column column, QStringList items);
    const QStringList& items(Column column) const { return items_[column]; }
    /// The item a pop-up cell shows for the strip; nothing when it shows none.
    std::optional<int> itemIndex(const ChannelStripController& controller, Column column) const;

    /// The strips were replaced: every row is read again and every old index is dropped.
    void reset();
    /// Every row is read again (the list changed in length or order).
    void reloadData();
    /// The strip an index of the current table names; null for an index of a replaced table.
    ChannelStripController* controllerAt(const QModelIndex& index) const;
    ChannelStripController* controllerAt(int32_t row) const;
    /// The rows of the drag in progress (set when rows are dragged).
    const std::vector<int32_t>& sourceIndex() const { return sourceIndex_; }

    // ---- The table's model ----
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // ---- Dragging ----
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    /// Between rows only: a drop onto a row is refused.
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    /// The rows a drag's data holds; nothing when it is no archive of rows of this table.
    std::optional<std::vector<int32_t>> draggedRows(const QMimeData* data) const;

  private:
    bool isCurrent(const QModelIndex& index) const;

    Controllers& controllers_;
    std::array<QStringList, ColumnCount> items_;
    EditHandler editHandler_;
    DropHandler dropHandler_;
    quintptr generation_ = 1;
    mutable std::vector<int32_t> sourceIndex_;
};

}  // namespace quenbril
