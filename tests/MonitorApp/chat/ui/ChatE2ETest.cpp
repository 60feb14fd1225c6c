// The page notifier and the chat tab of the preferences against the real stand-in on loopback:
// this remote's main window controller, and a second remote ("bob") made of the project's codec
// and a plain socket.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/chat/ui/ChatNotifierViewController.h"
#include "MonitorApp/chat/ui/ChatSettingsViewController.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

constexpr double kWait = 5.0;

class ChatE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        settings().setChatUsername("alice");
        vc->setSegueFactory([this](const std::string& id) -> std::shared_ptr<SegueDestination> {
            if (id != "showChatNotifier") return nullptr;
            return ChatNotifierViewController::shownOrNew(notifier_, settings(),
                                                          ColorHelper::sharedInstance());
        });
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
    }
    void TearDown() override {
        if (auto shown = notifier_.lock()) shown->close();
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    bool pumpUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWait); }
    bool chatLists(const std::string& name) {
        return pumpUntil([&] {
            for (const ChatClient& c : ChatManager::sharedInstance().chatClients()) {
                if (c.chatName == name) return true;
            }
            return false;
        });
    }
    bool page(WireClient& bob, const char* text) {
        return bob.send(
            LinkMessageBuilder::chatMessageFromClient(Dictionary{{"message", text},
                                                                 {"sender", "bob"},
                                                                 {"messageId", text},
                                                                 {"uuid", "BOB-UUID"},
                                                                 {"type", 5},
                                                                 {"recipient", "alice"}}));
    }
    std::shared_ptr<ChatNotifierViewController> notifierShowing(const std::string& text) {
        pumpUntil([&] {
            auto shown = notifier_.lock();
            return shown && shown->isVisible() &&
                   shown->textLabel()->text().endsWith(QString::fromStdString(": " + text));
        });
        return notifier_.lock();
    }

    SimServerProcess server_;
    std::weak_ptr<ChatNotifierViewController> notifier_;
};

TEST_F(ChatE2E, PagesShareOneFlashingNotifierAndASavedNameReachesTheOtherRemote) {
    ASSERT_TRUE(chatLists("alice")) << server_.log();
    WireClient bob(server_.port());
    ASSERT_TRUE(bob.waitFor("InitialDataReady", test::scaledSeconds(kWait)));
    ASSERT_TRUE(bob.send(LinkMessageBuilder::registerToChat("bob", "BOB-UUID")));
    ASSERT_TRUE(chatLists("bob")) << server_.log();
    // The stand-in's colours: bob joined second.
    ASSERT_TRUE(pumpUntil(
        [] { return ChatColorManager::sharedInstance().colorForUUID("BOB-UUID").has_value(); }));

    ASSERT_TRUE(page(bob, "wake up"));
    std::shared_ptr<ChatNotifierViewController> shown = notifierShowing("wake up");
    ASSERT_TRUE(shown) << server_.log();
    EXPECT_EQ(shown->textLabel()->text(), "09:41: wake up");
    EXPECT_EQ(shown->senderField()->text(), "bob");
    loop_->advance(0.5);
    EXPECT_EQ(shown->backgroundColor(), toQColor(*ColorHelper::colorForChatGroup(2)))
        << "bob's colour from the server";

    ASSERT_TRUE(page(bob, "second call"));
    EXPECT_EQ(notifierShowing("second call"), shown) << "the same window";

    defaults().setObject(Array{0, 0x90, 20, 1}, "CB MIDI 20");
    NotificationCenter::defaultCenter().post(
        "MIDIEventReceived",
        Dictionary{{"channel", 0}, {"command", 0x90}, {"byte1", 20}, {"byte2", 1}});
    EXPECT_FALSE(shown->isVisible());

    // A save of the chat tab registers the new name; bob hears of it.
    ChatSettingsViewController pane(sharedChatServices());
    pane.setLinkSender(&ServerManager::sharedInstance());
    pane.viewDidAppear();
    pane.chatUsername()->setText("carol");
    pane.saveSettings();
    EXPECT_TRUE(chatLists("carol")) << server_.log();
    bool heard = false;
    while (auto clients = bob.waitFor("ChatClients", test::scaledSeconds(1.0))) {
        for (size_t i = 0; i < (*clients)["Value"].count(); ++i) {
            heard = heard || (*clients)["Value"].at(i)["chatName"] == Value("carol");
        }
        if (heard) break;
    }
    EXPECT_TRUE(heard);
}

}  // namespace
}  // namespace quenbril::test
