// The snapshot selector against the real stand-in on loopback: the stand-in moves to the next
// snapshot every second, and the selector the "Snaps" button opens follows it.

#include <gtest/gtest.h>

#include <QListWidget>

#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/simserver/SimServerProcess.h"

namespace quenbril::test {
namespace {

constexpr double kWait = 5.0;

class SnapshotsE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        vc->setSegueFactory([this](const std::string& id) -> std::shared_ptr<SegueDestination> {
            segues.push_back(id);
            if (id != "snapshotSeque") return nullptr;
            return SnapshotSelectorViewController::shownOrNew(selector_, sharedPanelServices(),
                                                              SnapshotManager::sharedInstance());
        });
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
    }
    void TearDown() override {
        if (auto shown = selector_.lock()) shown->close();
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    static std::vector<std::string> rows(const SnapshotSelectorViewController& selector) {
        std::vector<std::string> shown;
        for (int row = 0; row < selector.tableView()->count(); ++row) {
            shown.push_back(selector.tableView()->item(row)->text().toStdString());
        }
        return shown;
    }

    SimServerProcess server_{{"--snapshot-interval", "1"}};
    std::weak_ptr<SnapshotSelectorViewController> selector_;
};

TEST_F(SnapshotsE2E, TheSelectorListsTheSnapshotsAndFollowsTheActiveOne) {
    FakeTitledButton snaps("Snaps");
    vc->QBButtonClicked(snaps);
    std::shared_ptr<SnapshotSelectorViewController> selector = selector_.lock();
    ASSERT_TRUE(selector);
    ASSERT_TRUE(selector->isVisible());
    ASSERT_TRUE(loop_->runUntil([&] { return selector->tableView()->count() == 3; }, kWait))
        << server_.log();
    EXPECT_EQ(rows(*selector), (std::vector<std::string>{"1: Act 1", "2: Act 2", "3: Finale"}));

    // The highlight moves with every "Snapshot", one row on, the first after the last, and is
    // always the row the manager selected.
    std::vector<int> seen;
    bool agreed = true;
    loop_->runUntil(
        [&] {
            const int row = selector->selectedRow();
            agreed = agreed && row == SnapshotManager::sharedInstance().selectedSnapshot();
            if (row >= 0 && (seen.empty() || seen.back() != row)) seen.push_back(row);
            return seen.size() >= 5;
        },
        15.0);
    ASSERT_GE(seen.size(), 5u) << server_.log();
    EXPECT_TRUE(agreed);
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], (seen[i - 1] + 1) % 3) << "step " << i;
    }

    // "Snaps" again brings the same window forward.
    vc->QBButtonClicked(snaps);
    EXPECT_EQ(selector_.lock(), selector);
    EXPECT_EQ(std::count(segues.begin(), segues.end(), "snapshotSeque"), 2);
    EXPECT_TRUE(selector->isVisible());
}

}  // namespace
}  // namespace quenbril::test
