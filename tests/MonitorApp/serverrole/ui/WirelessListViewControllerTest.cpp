// The receiver-list editor offscreen: clicks on its buttons and type menus change the list and
// the widgets, a refused file leaves both as they were, and closing stores "UserIPS".

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/serverrole/ui/IPListTableView.h"
#include "MonitorApp/serverrole/ui/WirelessListViewController.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/Recorders.h"

namespace quenbril {
namespace {

using Receivers = ReceiverListModel::Receivers;

class WirelessListTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = "/tmp/quenbril-wirelesslist-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        defaults_ = std::make_unique<UserDefaults>(folder_.string(), "Defaults");
        window_.setListSource([this] { return &list_; });
        window_.setAlertPresenter(&alerts_);
        window_.setFilePanel(&files_);
        window_.setUserDefaults(defaults_.get());
        window_.present();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    QString cell(int row, int column) const {
        auto* model = window_.tableView()->model();
        return model->data(model->index(row, column)).toString();
    }

    std::filesystem::path folder_;
    Receivers list_;
    // Outlives the window, which keeps pointing at its list until it is gone.
    WirelessManager registry_;
    std::unique_ptr<UserDefaults> defaults_;
    RecordingAlerts alerts_;
    RecordingFilePanel files_;
    WirelessListViewController window_;
};

TEST_F(WirelessListTest, ClickingAddAndPickingATypeChangeTheRows) {
    QTest::mouseClick(window_.addButton(), Qt::LeftButton);
    QTest::mouseClick(window_.addButton(), Qt::LeftButton);
    ASSERT_EQ(window_.tableView()->model()->rowCount(), 2);
    EXPECT_EQ(cell(1, IPListTableView::kIPColumn), "192.168.0.2");
    QComboBox* menu = window_.tableView()->typeMenu(1);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->currentIndex(), 3);
    EXPECT_EQ(menu->count(), 10);

    // The operator picks item 6 of the second row's menu.
    menu->setCurrentIndex(6);
    emit menu->activated(6);
    EXPECT_EQ(list_, (Receivers{{"192.168.0.1", 3}, {"192.168.0.2", 6}}));
    EXPECT_EQ(window_.tableView()->typeMenu(1)->currentIndex(), 6);
    EXPECT_EQ(window_.tableView()->typeMenu(0)->currentIndex(), 3);

    // An address edited in the table is committed through the check.
    auto* model = window_.tableView()->model();
    EXPECT_FALSE(model->setData(model->index(0, IPListTableView::kIPColumn), "10.0.1"));
    EXPECT_TRUE(model->setData(model->index(0, IPListTableView::kIPColumn), "10.0.0.9"));
    EXPECT_EQ(list_[0].address, "10.0.0.9");

    window_.tableView()->selectRow(0);
    QTest::mouseClick(window_.removeButton(), Qt::LeftButton);
    EXPECT_EQ(list_, (Receivers{{"192.168.0.2", 6}}));
    EXPECT_EQ(window_.tableView()->typeMenu(0)->currentIndex(), 6);
}

TEST_F(WirelessListTest, LoadAndSaveGoThroughTheFilePanelAndCloseStoresTheList) {
    list_ = {{"10.0.0.7", 5}};
    window_.viewDidAppear();
    const std::string path = (folder_ / "list.wip").string();
    files_.answers = {path};
    QTest::mouseClick(window_.saveButton(), Qt::LeftButton);
    ASSERT_EQ(files_.requests.size(), 1u);
    EXPECT_EQ(files_.requests[0].allowedTypes, std::vector<std::string>{"wip"});
    EXPECT_TRUE(alerts_.texts.empty());

    list_ = {{"10.0.0.1", 1}, {"10.0.0.2", 2}};
    window_.viewDidAppear();
    files_.answers = {path};
    QTest::mouseClick(window_.loadButton(), Qt::LeftButton);
    EXPECT_EQ(list_, (Receivers{{"10.0.0.7", 5}}));
    EXPECT_EQ(window_.tableView()->model()->rowCount(), 1);
    EXPECT_EQ(window_.tableView()->typeMenu(0)->currentIndex(), 5);

    // A refused file is reported and the rows stay.
    std::ofstream(folder_ / "bad.wip") << "<plist><string>x</string></plist>";
    files_.answers = {(folder_ / "bad.wip").string()};
    QTest::mouseClick(window_.loadButton(), Qt::LeftButton);
    ASSERT_EQ(alerts_.texts.size(), 1u);
    EXPECT_NE(alerts_.texts[0].find("bad.wip"), std::string::npos);
    EXPECT_EQ(window_.tableView()->model()->rowCount(), 1);

    // A failed save is reported too.
    files_.answers = {(folder_ / "missing" / "x.wip").string()};
    QTest::mouseClick(window_.saveButton(), Qt::LeftButton);
    EXPECT_EQ(alerts_.texts.size(), 2u);

    QTest::mouseClick(window_.closeButton(), Qt::LeftButton);
    EXPECT_FALSE(window_.isVisible());
    UserDefaults reread(folder_.string(), "Defaults");
    EXPECT_EQ(WirelessManager::readReceiverList(reread.objectForKey("UserIPS")), list_);
}

TEST_F(WirelessListTest, WithNoRegistryTheTableIsEmptyAndCloseKeepsTheStoredList) {
    defaults_->setObject(Value(Array{Value(Array{Value("10.1.1.1"), Value(2)})}), "UserIPS");
    window_.setListSource(WirelessListViewController::registryList(nullptr));
    window_.viewDidAppear();
    QTest::mouseClick(window_.addButton(), Qt::LeftButton);
    EXPECT_EQ(window_.tableView()->model()->rowCount(), 0);
    QTest::mouseClick(window_.closeButton(), Qt::LeftButton);
    UserDefaults reread(folder_.string(), "Defaults");
    EXPECT_EQ(WirelessManager::readReceiverList(reread.objectForKey("UserIPS")),
              (Receivers{{"10.1.1.1", 2}}));
}

TEST_F(WirelessListTest, WithARegistryTheWindowEditsItsReceiverList) {
    registry_.deviceIPs() = {{"10.1.1.1", 2}};
    window_.setListSource(WirelessListViewController::registryList(&registry_));
    window_.viewDidAppear();
    EXPECT_EQ(window_.tableView()->model()->rowCount(), 1);
    QTest::mouseClick(window_.addButton(), Qt::LeftButton);
    EXPECT_EQ(registry_.deviceIPs().size(), 2u);
}

}  // namespace
}  // namespace quenbril
