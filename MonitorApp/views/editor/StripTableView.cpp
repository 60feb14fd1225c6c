#include "MonitorApp/views/editor/StripTableView.h"

#include <QDropEvent>
#include <QHeaderView>

#include "MonitorApp/controls/ListWindow.h"

namespace quenbril {

StripTableView::StripTableView(QWidget* parent) : QTableView(parent) {
    ListWindow::setUpTable(this, false);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDragDropOverwriteMode(false);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);
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
