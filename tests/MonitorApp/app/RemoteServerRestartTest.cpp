// The real application on an X display while the stand-in is stopped and started afresh: the
// new server has nothing on and no chat history, and what the remote shows of them follows it
// (the quick-message button of the clicked channel, the CHAT button's alarm).

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QWidget>
#include <string>

#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/InProcessRemote.h"
#include "tests/support/QtTestTime.h"
#include "tests/support/ScreenPicture.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

constexpr uint64_t kActive = 1;

class RemoteServerRestart : public InProcessRemoteTest {
  protected:
    ViewController& vc() const { return composition->viewController(); }
    /// The red of the CHAT button's face, in the button's own drawing.
    int chatRed() const {
        auto* button = vc().findChild<QWidget*>("ChatButton");
        if (!button) return -1;
        const QImage face = button->grab().toImage();
        return countRed(face, face.rect());
    }
    /// The strip at `index`, fetched anew each time: a reconnection makes new strips.
    static const ChannelStripController* stripAt(size_t index) {
        const auto& strips = ChannelStripManager::channelStripControllers();
        return index < strips.size() ? strips[index].get() : nullptr;
    }
    static bool active(size_t index) {
        const ChannelStripController* strip = stripAt(index);
        return strip && strip->state().channelState() == kActive;
    }
    static std::string labelOf(const ChannelStripController* strip) {
        if (!strip) return "(no strip)";
        return DispatchRules::stripLabel(strip->model().name().value_or(""),
                                         strip->model().audioInput());
    }
    /// The quick-message button that sends the last clicked channel (key "F8").
    static ChatButton* clickedChannelButton(ChatButtonViewController& buttons) {
        for (ChatButton* button : buttons.chatButtons()) {
            if (button->functionButton()->text() == "F8") return button;
        }
        return nullptr;
    }
};

TEST_F(RemoteServerRestart, ANewServerWithNothingOnAndNoChatClearsTheClickedChannelAndTheAlarm) {
    ASSERT_TRUE(liveStripShown(7)) << "no live strips came";
    QWidget& main = composition->mainWindow();
    vc().showHideChat();
    auto buttons = std::dynamic_pointer_cast<ChatButtonViewController>(vc().chatButtonVC());
    ASSERT_TRUE(buttons);
    ChatButton* f8 = clickedChannelButton(*buttons);
    ASSERT_NE(f8, nullptr);
    const int redUnlit = chatRed();

    // A strip clicked active: F8 names it.
    main.activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(&main));
    clickAt(*stripWidget(2), QPoint(64, 64));
    ASSERT_TRUE(QTest::qWaitFor([] { return active(2); }, kPatienceMs)) << server->log();
    const std::string label = labelOf(stripAt(2));
    ASSERT_EQ(f8->text(), label);

    // Another station writes to everyone: CHAT turns red.
    {
        WireClient bob(kManualPort);
        ASSERT_TRUE(bob.waitFor("InitialDataReady", scaledSeconds(10.0)));
        ASSERT_TRUE(bob.send(LinkMessageBuilder::registerToChat("bob", "bob-station")));
        ASSERT_TRUE(bob.send(LinkMessageBuilder::chatMessageFromClient(
            Dictionary{{"message", "house is open"},
                       {"sender", "bob"},
                       {"messageId", "9B1DEB4D-3B7D-4BAD-9BDD-2B0D7B3DCB6D"},
                       {"uuid", "bob-station"},
                       {"type", 0},
                       {"recipient", "All"}})));
        ASSERT_TRUE(QTest::qWaitFor([&] { return vc().chatAlarm(); }, kPatienceMs))
            << server->log();
    }
    ASSERT_GT(chatRed(), redUnlit + 50) << "the lit CHAT button is red";

    // The stand-in is started afresh: nothing on, no chat.
    if (auto refusal = startStandIn(); !refusal.empty()) GTEST_SKIP() << refusal;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return vc().serverIsHere() && ChatManager::messages().empty(); }, kPatienceMs))
        << "the new server's state and chat history did not come: " << server->log();
    ASSERT_EQ(ChannelStripManager::sharedInstance().activeChannelNamesForChat(),
              "(No channel selected)");

    EXPECT_EQ(f8->text(), "(No channel selected)") << "F8 still names the old server's strip";
    EXPECT_EQ(ChannelStripManager::sharedInstance().previouslyClickedChannel(),
              ChannelStripManager::kNoChannelClicked);
    EXPECT_FALSE(vc().chatAlarm()) << "CHAT is red over an empty history";
    EXPECT_EQ(chatRed(), redUnlit);

    // A strip clicked on the new server is named again.
    main.activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(&main));
    clickAt(*stripWidget(4), QPoint(64, 64));
    ASSERT_TRUE(QTest::qWaitFor([] { return active(4); }, kPatienceMs)) << server->log();
    EXPECT_EQ(f8->text(), labelOf(stripAt(4)));
}

}  // namespace
