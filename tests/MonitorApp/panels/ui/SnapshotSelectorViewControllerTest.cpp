// The snapshot selector: its numbered rows, a highlight only the server moves, the window level
// and frame it keeps, and one window at a time.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QTest>

#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {
namespace {

using Selector = SnapshotSelectorViewController;

class SnapshotSelectorTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        name({"Act 1", "Act 2", "Finale"});
        snapshots().setSelectedSnapshot(0);
        selector = std::make_unique<Selector>(sharedPanelServices(), snapshots());
    }
    void TearDown() override {
        if (selector) selector->close();
        selector.reset();
        snapshots().setSnapshotNames({});
        snapshots().setSelectedSnapshot(0);
        loop_->runPending();
        SettingsTest::TearDown();
    }

    static SnapshotManager& snapshots() { return SnapshotManager::sharedInstance(); }
    /// The server's list: each entry its title and its order index.
    static void name(std::initializer_list<const char*> titles) {
        Array names;
        int32_t order = 0;
        for (const char* title : titles)
            names.push_back(Value(Array{Value(title), Value(order++)}));
        snapshots().setSnapshotNames(std::move(names));
    }
    static void updated(int32_t selected) {
        snapshots().setSelectedSnapshot(selected);
        NotificationCenter::defaultCenter().post(Selector::kSnapshotsUpdatedNotification);
    }
    std::vector<std::string> rows() const {
        std::vector<std::string> shown;
        for (int row = 0; row < selector->tableView()->count(); ++row) {
            shown.push_back(selector->tableView()->item(row)->text().toStdString());
        }
        return shown;
    }

    std::unique_ptr<Selector> selector;
};

TEST_F(SnapshotSelectorTest, ListsTheTitlesNumberedFromOneInTheServersOrder) {
    // An entry whose first element is no title still takes its row and its number.
    snapshots().snapshotNames().push_back(Value(Array{Value(7), Value(3)}));
    snapshots().setSelectedSnapshot(2);
    selector->show();
    EXPECT_EQ(rows(), (std::vector<std::string>{"1: Act 1", "2: Act 2", "3: Finale", "4: "}));
    EXPECT_EQ(selector->numberOfRowsInTableView(), 4);
    EXPECT_EQ(selector->selectedRow(), 2);
    EXPECT_TRUE(selector->tableView()->item(2)->isSelected());
}

TEST_F(SnapshotSelectorTest, AClickLeavesTheHighlightWhereItWas) {
    snapshots().setSelectedSnapshot(1);
    selector->show();
    QListWidget* table = selector->tableView();
    for (int row : {0, 2, 1}) {
        const QPoint at = table->visualItemRect(table->item(row)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(selector->selectedRow(), 1) << "after clicks on row " << row;
    }
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->selectedItems().size(), 1);
    EXPECT_EQ(selector->selectedRow(), 1);
}

TEST_F(SnapshotSelectorTest, APositionOutsideTheListLeavesTheHighlight) {
    snapshots().setSelectedSnapshot(1);
    selector->show();
    for (int32_t outside : {-1, 3, 400}) {
        selector->selectSnapshot(outside);
        EXPECT_EQ(selector->selectedRow(), 1) << outside;
    }
    // "Snapshot" naming an order index the list lacks selects the row count.
    updated(3);
    EXPECT_EQ(selector->selectedRow(), 1);

    // Shown again with no valid position, the row highlighted before stays highlighted.
    selector->close();
    snapshots().setSelectedSnapshot(-1);
    selector->show();
    EXPECT_EQ(selector->selectedRow(), 1);
    // A list that shrank below the highlighted row drops the highlight.
    selector->close();
    name({"Act 1"});
    selector->show();
    EXPECT_EQ(selector->selectedRow(), -1);
}

TEST_F(SnapshotSelectorTest, FollowsTheSnapshotsOnlyWhileShown) {
    selector->show();
    name({"Prologue", "Act 1", "Act 2", "Finale"});
    updated(3);
    EXPECT_EQ(rows(),
              (std::vector<std::string>{"1: Prologue", "2: Act 1", "3: Act 2", "4: Finale"}));
    EXPECT_EQ(selector->selectedRow(), 3);
    updated(0);
    EXPECT_EQ(selector->selectedRow(), 0);

    selector->close();
    name({"Gone"});
    updated(0);
    EXPECT_EQ(rows().size(), 4u);
    // Shown again, it reads the list as it is now.
    selector->show();
    EXPECT_EQ(rows(), (std::vector<std::string>{"1: Gone"}));
    EXPECT_EQ(selector->selectedRow(), 0);
}

TEST_F(SnapshotSelectorTest, TheOnTopButtonIsStoredAndFollowedByTheNextWindow) {
    selector->show();
    EXPECT_FALSE(selector->onTop()->isChecked());
    EXPECT_FALSE(selector->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    selector->onTop()->click();
    EXPECT_TRUE(selector->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(selector->isVisible());
    const QRect frame(120, 90, 260, 320);
    selector->setGeometry(frame);
    selector->close();

    // The setting and the frame were written to disk: the next run reads them.
    restart();
    EXPECT_EQ(defaults().objectForKey(Selector::kOnTopKey), Value(true));
    EXPECT_EQ(defaults().stringForKey(Selector::kFrameName), WindowFrameAutosave::frameText(frame));
    auto next = std::make_unique<Selector>(sharedPanelServices(), snapshots());
    next->show();
    EXPECT_TRUE(next->onTop()->isChecked());
    EXPECT_TRUE(next->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(next->geometry(), frame);
    next->onTop()->click();
    EXPECT_FALSE(next->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(defaults().objectForKey(Selector::kOnTopKey), Value(false));
    next->close();
}

TEST_F(SnapshotSelectorTest, OpeningItAgainWhileShownGivesTheSameWindow) {
    selector.reset();
    std::weak_ptr<Selector> shown;
    auto first = Selector::shownOrNew(shown, sharedPanelServices(), snapshots());
    first->show();
    EXPECT_EQ(Selector::shownOrNew(shown, sharedPanelServices(), snapshots()), first);
    first->show();
    EXPECT_TRUE(first->isVisible());
    first->close();
    auto second = Selector::shownOrNew(shown, sharedPanelServices(), snapshots());
    EXPECT_NE(second, first);
    EXPECT_EQ(shown.lock(), second);
}

}  // namespace
}  // namespace quenbril
