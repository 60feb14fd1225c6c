// The mic-check window and the large timecode window against the real stand-in on loopback:
// this remote's main window controller with the real windows, and a second remote ("bob") made
// of the project's codec and a plain socket.

#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/panels/ui/MicCheckTableModel.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/LTCManager.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

constexpr double kWait = 5.0;
const QString kGreen = "#b2ff33";
const QString kRed = "#e53935";

class MicCheckTimecodeE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        server_ = std::make_unique<SimServerProcess>();
        ASSERT_NE(server_->port(), 0) << server_->log();
        settings().setChatUsername("alice");
        ASSERT_TRUE(linkToStandIn(server_->port())) << server_->log();
        // The server knows this remote as "alice" once it has registered to the chat.
        ASSERT_TRUE(pumpUntil([] {
            for (const ChatClient& c : ChatManager::sharedInstance().chatClients()) {
                if (c.chatName == "alice") return true;
            }
            return false;
        })) << server_->log();
    }
    void TearDown() override {
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    bool pumpUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWait); }

    std::unique_ptr<SimServerProcess> server_;
};

TEST_F(MicCheckTimecodeE2E, ATickComesBackFromTheServerAndReachesTheOtherRemote) {
    WireClient bob(server_->port());
    ASSERT_TRUE(bob.waitFor("InitialDataReady", test::scaledSeconds(kWait)));
    MicCheckViewController window(sharedPanelServices());
    window.show();
    const QAbstractItemModel* table = window.tableView()->model();
    ASSERT_EQ(static_cast<size_t>(table->rowCount()), manager().controllers().size());
    const QModelIndex name = table->index(0, MicCheckTableModel::kName);
    EXPECT_EQ(table->data(name, Qt::ForegroundRole).value<QColor>().name(), kRed);
    const int64_t csID = manager().controllers()[0]->model().csID();

    NotificationRecorder applied("ChannelStripChecked");
    window.tableView()->selectRow(0);
    window.checkButton()->click();
    // The server's answer, not the local tick: its time is the server's real clock.
    ASSERT_TRUE(pumpUntil([&] { return !applied.posted.empty(); })) << server_->log();
    const MicCheckState& check = manager().controllers()[0]->state().micCheckState();
    EXPECT_TRUE(check.checked());
    EXPECT_TRUE(check.needsChecking());
    EXPECT_EQ(check.user(), "alice");
    ASSERT_TRUE(check.time());
    EXPECT_NE(check.time()->secondsSinceReferenceDate, loop_->now());
    EXPECT_EQ(table->data(name, Qt::ForegroundRole).value<QColor>().name(), kGreen);
    EXPECT_EQ(table->data(table->index(0, MicCheckTableModel::kUser)).toString(), "alice");

    std::optional<Dictionary> heard;
    while ((heard = bob.waitFor("MicCheckState", test::scaledSeconds(kWait)))) {
        if ((*heard)["Value"]["csID"] == Value(csID)) break;
    }
    ASSERT_TRUE(heard);
    EXPECT_EQ((*heard)["Value"]["checked"], Value(true));
    EXPECT_EQ((*heard)["Value"]["user"], Value("alice"));
}

TEST_F(MicCheckTimecodeE2E, TheTimecodeRunsGreenAndFreezesRedOnceTheServerStops) {
    BigLTCViewController window(sharedPanelServices());
    window.show();
    const int64_t source = LTCManager::sharedInstance().tcCSIndex();
    ASSERT_GT(source, 0) << "the stand-in's timecode strip is the source";
    ASSERT_TRUE(pumpUntil([&] {
        return LTCManager::sharedInstance().recordFor(source) != nullptr;
    })) << server_->log();
    loop_->advance(0.1);
    EXPECT_EQ(window.digitColor().name(), kGreen);
    EXPECT_NE(window.bigLabel()->text(), "00:00:00:00");

    server_.reset();
    // Whatever arrived before the server went is in; from now on nothing comes.
    loop_->runFor(0.3);
    const std::shared_ptr<ReceivedLTC> last = LTCManager::sharedInstance().recordFor(source);
    const QString frozen = QString::asprintf("%02d:%02d:%02d:%02d", last->hours(), last->minutes(),
                                             last->seconds(), last->frames());
    loop_->advance(1.4);
    EXPECT_EQ(window.digitColor().name(), kGreen) << "1.4 s after the last timecode";
    loop_->advance(0.2);
    EXPECT_EQ(window.digitColor().name(), kRed);
    EXPECT_EQ(window.bigLabel()->text(), frozen);
    loop_->advance(3);
    EXPECT_EQ(window.bigLabel()->text(), frozen);
}

}  // namespace
}  // namespace quenbril::test
