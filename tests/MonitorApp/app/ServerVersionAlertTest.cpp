// The alert about an old server, raised while its state arrives, over a real link: the link goes
// on reading while the alert is up.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "MonitorApp/app/QtAlertPresenter.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "tests/MonitorApp/app/AppTest.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

std::vector<QMessageBox*> shownBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible()) boxes.push_back(box);
    }
    return boxes;
}

QMessageBox* shownBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible()) return box;
    }
    return nullptr;
}

class ServerVersionAlertTest : public AppTest {
  protected:
    void TearDown() override {
        for (QMessageBox* box : shownBoxes()) box->close();
        ServerManager::sharedInstance().setDelegate(nullptr);
        AppTest::TearDown();
    }
};

TEST_F(ServerVersionAlertTest, TheLinkReadsOnAndNoticesTheServerGoneWhileTheAlertIsUp) {
    // Shown modally inside the message handler, the alert kept the link from reading: nothing
    // more arrived, and a server that had gone still showed as connected.
    settings().setActAsClient(true);
    launch();
    QtAlertPresenter presenter;
    controller->setAlertPresenter(&presenter);
    defaults().setObject(true, "useManualIP");
    defaults().setObject("127.0.0.1", "manualIP");
    FrameServer server;
    ServerManager& link = ServerManager::sharedInstance();
    link.setPort(server.port());
    link.setDelegate(controller);
    connectLinkSenders(&link, *controller);
    link.tryToConnect();
    ASSERT_TRUE(server.acceptWithin(*loop_));

    // Should the alert hold the handler, its own loop runs this, and the test goes on. (Well
    // after the messages below are handled, in a slower build too.)
    bool heldByAlert = false, done = false;
    QTimer::singleShot(scaledMs(3000), [&] {
        if (done) return;
        heldByAlert = settings().batThreshold() != 33;
        if (QMessageBox* box = shownBox()) box->close();
    });
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("MasterVersion", 3.0)));
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("InitialDataReady", true)));
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("BatteryThreshold", 33)));
    EXPECT_TRUE(loop_->runUntil([] { return settings().batThreshold() == 33; }, 10.0));
    done = true;
    EXPECT_FALSE(heldByAlert) << "the link read nothing while the alert was up";
    QMessageBox* box = shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(box->text().indexOf("3.8"), -1) << box->text().toStdString();

    // A server that says it again raises no second box.
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("InitialDataReady", true)));
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("BatteryThreshold", 34)));
    EXPECT_TRUE(loop_->runUntil([] { return settings().batThreshold() == 34; }, 10.0));
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* shown = qobject_cast<QMessageBox*>(widget);
        boxes += shown && shown->isVisible() ? 1 : 0;
    }
    EXPECT_EQ(boxes, 1);

    server.stop();
    EXPECT_TRUE(loop_->runUntil(
        [&] { return controller->statusRightText() == "NOT CONNECTED TO SERVER"; }, 10.0))
        << controller->statusRightText();
    EXPECT_EQ(shownBox(), box) << "the alert stays until it is closed";
    connectLinkSenders(nullptr, *controller);
}

TEST_F(ServerVersionAlertTest, AServerReportingOneOldVersionAfterAnotherRaisesOneBoxWithTheLast) {
    // Each new version opened a box of its own, each to be closed by hand.
    settings().setActAsClient(true);
    launch();
    QtAlertPresenter presenter;
    controller->setAlertPresenter(&presenter);
    defaults().setObject(true, "useManualIP");
    defaults().setObject("127.0.0.1", "manualIP");
    FrameServer server;
    ServerManager& link = ServerManager::sharedInstance();
    link.setPort(server.port());
    link.setDelegate(controller);
    connectLinkSenders(&link, *controller);
    link.tryToConnect();
    ASSERT_TRUE(server.acceptWithin(*loop_));

    // Another alert presented meanwhile keeps its own box.
    presenter.present(controller, "Something else to say.");
    constexpr int kVersions = 60;
    float last = 0;
    for (int i = 0; i < kVersions; ++i) {
        last = static_cast<float>(1.0 + 0.04 * i);
        ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("MasterVersion", Value(last))));
        ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("InitialDataReady", true)));
    }
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("BatteryThreshold", 35)));
    ASSERT_TRUE(loop_->runUntil([] { return settings().batThreshold() == 35; }, 10.0));
    ASSERT_LT(last, DispatchRules::kMinimumChatServerVersion);

    std::vector<std::string> texts;
    for (QMessageBox* box : shownBoxes()) texts.push_back(box->text().toStdString());
    ASSERT_EQ(texts.size(), 2u);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts[0], DispatchRules::updateAlertText(last));
    EXPECT_EQ(texts[1], "Something else to say.");

    // Closed, the next version opens a box again.
    for (QMessageBox* box : shownBoxes()) box->close();
    QApplication::processEvents();
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("MasterVersion", Value(3.5))));
    ASSERT_TRUE(server.sendMessage(LinkMessageBuilder::message("InitialDataReady", true)));
    ASSERT_TRUE(loop_->runUntil([] { return shownBoxes().size() == 1; }, 10.0));
    EXPECT_EQ(shownBoxes()[0]->text().toStdString(), DispatchRules::updateAlertText(3.5f));

    server.stop();
    connectLinkSenders(nullptr, *controller);
}

}  // namespace
}  // namespace quenbril::test
