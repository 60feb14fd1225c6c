// The strip editor of the real application, on an X display against the stand-in: opened from
// the main menu, a strip of panel A is renamed by typing and moved to panel B through its
// pop-up; once the editor closes, the strip shows in panel B with its new title. The
// application is put together in this process as the program does, so that the test can reach
// its windows.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <memory>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/views/editor/ChannelStripViewController.h"
#include "tests/support/InProcessRemote.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

using Column = ChannelStripTableModel::Column;

ChannelStripManager::Controllers& controllers() {
    return ChannelStripManager::channelStripControllers();
}

QWidget* viewOf(const ChannelStripController& controller) {
    return dynamic_cast<QWidget*>(controller.view());
}

/// The controller of the strip `csID`, found anew: a reconnection of the link meanwhile
/// rebuilds every strip from the server's "Channels", and a controller kept from before is gone.
ChannelStripController* stripWithID(int64_t csID) {
    for (const auto& c : controllers()) {
        if (c->model().csID() == csID) return c.get();
    }
    return nullptr;
}

/// The view of the strip `csID`, found anew; none while it has none.
QWidget* viewWithID(int64_t csID) {
    ChannelStripController* c = stripWithID(csID);
    return c ? viewOf(*c) : nullptr;
}

class RemoteStripEditor : public InProcessRemoteTest {};

TEST_F(RemoteStripEditor, ARenamedStripMovedToPanelBShowsThere) {
    // The stand-in puts 8 of its 16 channels in panel A, the panel shown, and 7 in panel B
    // (its spare channel is not monitored).
    ASSERT_TRUE(QTest::qWaitFor([] { return controllers().size() == 15; }, kPatienceMs))
        << "no strips came";
    const int32_t inB = ChannelStripManager::controllersInPanel(controllers(), "B");
    ASSERT_EQ(ChannelStripManager::controllersInPanel(controllers(), "A"), 8);
    size_t row = 0;
    while (row < controllers().size() && controllers()[row]->model().panel() != "A") ++row;
    ASSERT_LT(row, controllers().size());
    const int64_t csID = controllers()[row]->model().csID();
    auto shown = [csID] {
        QWidget* strip = viewWithID(csID);
        return strip && strip->isVisible();
    };
    ASSERT_TRUE(QTest::qWaitFor(shown, kPatienceMs));

    QAction* item = composition->appDelegate().itemTitled("Channel Strips…");
    ASSERT_NE(item, nullptr);
    item->trigger();
    ChannelStripViewController* editor = composition->channelStrips();
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(editor, kPatienceMs));
    // The menu item opens one editor at a time.
    item->trigger();
    EXPECT_EQ(composition->channelStrips(), editor);
    QTableView* table = editor->tableView();
    ASSERT_EQ(table->model()->rowCount(), 15);

    {
        SCOPED_TRACE("the name typed into the strip's cell");
        const QModelIndex name = table->model()->index(static_cast<int>(row), Column::Name);
        table->scrollTo(name);
        // Through the window, as the user's double click comes.
        const QPoint at = table->viewport()->mapTo(editor, table->visualRect(name).center());
        QTest::mouseDClick(editor->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        QLineEdit* field = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (field = table->viewport()->findChild<QLineEdit*>()) != nullptr; },
            kPatienceMs));
        field->selectAll();
        QTest::keyClicks(field, "Lead vocal 1");
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                ChannelStripController* c = stripWithID(csID);
                return c && c->model().name() == std::string("Lead vocal");
            },
            kPatienceMs));
    }

    {
        SCOPED_TRACE("panel B chosen in the strip's pop-up");
        const QModelIndex panel = table->model()->index(static_cast<int>(row), Column::Panel);
        table->setCurrentIndex(panel);
        table->edit(panel);
        QComboBox* combo = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (combo = table->viewport()->findChild<QComboBox*>()) != nullptr; },
            kPatienceMs));
        ASSERT_EQ(combo->currentText(), "A");
        QTest::keyClick(combo, Qt::Key_Down);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                ChannelStripController* c = stripWithID(csID);
                return c && c->model().panel() == std::string("B");
            },
            kPatienceMs));
        // Not re-laid before the editor closes.
        EXPECT_TRUE(shown());
    }

    QTest::mouseClick(editor->closeButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor->isVisible(); }, kPatienceMs));
    EXPECT_EQ(ChannelStripManager::controllersInPanel(controllers(), "B"), inB + 1);
    // Panel A is shown: the strip has left it.
    ASSERT_NE(viewWithID(csID), nullptr);
    EXPECT_FALSE(shown());

    composition->viewController().panelButtonClicked();
    ASSERT_TRUE(QTest::qWaitFor(shown, kPatienceMs));
    ChannelStripController* controller = stripWithID(csID);
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(controller->view()->getTitle(), "Lead vocal");
    // Panels keep the list's order: the first strip of the list leads panel B now.
    EXPECT_EQ(ChannelStripManager::indexInPanel(controllers(), controller), 0);
}

}  // namespace
