#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include "MonitorApp/controls/ListWindow.h"
#include "tests/support/QtTestTime.h"

namespace quenbril {
namespace {

// The bar as the window shows it: the row buttons at the left edge, the filing ones at the
// right, and each button runs its own action when clicked.
TEST(ListWindowTest, ButtonBarKeepsTheRowButtonsLeftAndTheOthersRight) {
    QWidget window;
    QPushButton* add = nullptr;
    QPushButton* close = nullptr;
    int adds = 0, closes = 0;
    QStandardItemModel model(5, 2);
    QTableView table(&window);
    table.setModel(&model);
    ListWindow::setUpTable(&table, true);
    QHBoxLayout* bar = ListWindow::buttonBar(&window, {{&add, "Add", [&] { ++adds; }}},
                                             {{&close, "Close", [&] { ++closes; }}});
    ListWindow::layOut(&window, 16, 10, nullptr, &table, bar);
    window.resize(500, 300);
    window.show();
    ASSERT_TRUE(test::qWaitForWindowExposed(&window));
    ASSERT_TRUE(add && close);
    EXPECT_EQ(add->geometry().left(), 16);
    EXPECT_EQ(close->geometry().right(), 500 - 16 - 1);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_EQ(adds, 0);
    EXPECT_EQ(closes, 1);

    // Rows are picked whole and reported in order, however they were picked.
    table.selectRow(3);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table.visualRect(model.index(1, 1)).center());
    EXPECT_EQ(ListWindow::selectedRows(&table), (std::vector<int>{1, 3}));
    EXPECT_EQ(table.editTriggers(), QAbstractItemView::NoEditTriggers);
}

}  // namespace
}  // namespace quenbril
