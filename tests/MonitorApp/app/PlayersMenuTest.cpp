// The "Players…" item of the main menu, as the application is put together.

#include <QAction>
#include <QApplication>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"

namespace quenbril::test {
namespace {

class PlayersMenuTest : public StripTest {
  protected:
    void TearDown() override {
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        loop_->runPending();
        StripTest::TearDown();
    }

    static int playerListWindows() {
        int count = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (dynamic_cast<PlayerListViewController*>(window) && window->isVisible()) ++count;
        }
        return count;
    }
};

TEST_F(PlayersMenuTest, TheItemOpensOneListAndBringsItForwardWhenItIsOpen) {
    RemoteComposition composition;
    QAction* item = composition.appDelegate().itemTitled("Players…");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(composition.playerList(), nullptr);  // made on first use

    item->trigger();
    PlayerListViewController* list = composition.playerList();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    item->trigger();
    EXPECT_EQ(composition.playerList(), list);
    EXPECT_EQ(playerListWindows(), 1);

    // Closed and opened again: the same window comes back.
    list->close();
    EXPECT_EQ(playerListWindows(), 0);
    item->trigger();
    EXPECT_EQ(composition.playerList(), list);
    EXPECT_EQ(playerListWindows(), 1);
}

}  // namespace
}  // namespace quenbril::test
