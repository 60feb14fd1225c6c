#include "MonitorApp/controls/ListWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace quenbril {

void ListWindow::setUpTable(QTableView* table, bool readOnly) {
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setVisible(false);
    if (readOnly) {
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setShowGrid(false);
    }
}

QHBoxLayout* ListWindow::buttonBar(QWidget* owner, std::initializer_list<Button> leading,
                                   std::initializer_list<Button> trailing) {
    auto* bar = new QHBoxLayout;
    auto add = [&](const Button& button) {
        auto* made = new QPushButton(QString::fromUtf8(button.title), owner);
        QObject::connect(made, &QPushButton::clicked, owner, button.clicked);
        if (button.slot) *button.slot = made;
        bar->addWidget(made);
    };
    for (const Button& button : leading) add(button);
    bar->addStretch(1);
    for (const Button& button : trailing) add(button);
    return bar;
}

void ListWindow::layOut(QWidget* owner, int margin, int spacing, QLayout* top, QWidget* table,
                        QLayout* buttons) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(margin, margin, margin, margin);
    if (spacing >= 0) layout->setSpacing(spacing);
    if (top) layout->addLayout(top);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
}

std::vector<int> ListWindow::selectedRows(const QTableView* table) {
    std::vector<int> rows;
    if (QItemSelectionModel* selection = table->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows()) rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace quenbril
