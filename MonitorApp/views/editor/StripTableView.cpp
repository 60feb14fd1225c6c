#include "MonitorApp/views/editor/StripTableView.h"

#include <QDropEvent>
#include <QHeaderView>

namespace quenbril {

StripTableView::StripTableView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDragDropOverwriteMode(false);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setStretchLastSection(true);
}

void StripTableView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->source() != this) {
        event->ignore();
        return;
    }
    QTableView::dragEnterEvent(event);
}

void StripTableView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->source() != this) {
        event->ignore();
        return;
    }
    QTableView::dragMoveEvent(event);
}

void StripTableView::dropEvent(QDropEvent* event) {
    if (event->source() != this) {
        event->ignore();
        return;
    }
    QTableView::dropEvent(event);
}

}  // namespace quenbril
