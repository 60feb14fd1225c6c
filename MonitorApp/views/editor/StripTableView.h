#pragma once

#include <QTableView>

namespace quenbril {

/// The strip editor's table view: rows are dragged to reorder them, and a drag is taken only
/// when it comes from this very table (other tables and applications may offer the same type).
class StripTableView : public QTableView {
    Q_OBJECT

  public:
    explicit StripTableView(QWidget* parent = nullptr);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

}  // namespace quenbril
