// The chat window: its two panes, collapsing and expanding the quick messages, the window level,
// the kept frame, and one window at a time as the main window opens it.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <optional>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/chat/ui/ChatSplitViewController.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "MonitorApp/chat/ui/ChatWindowOpener.h"
#include "MonitorApp/chat/ui/SendButton.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/preferences/PreferenceNotifications.h"
#include "tests/MonitorApp/chat/ui/ChatWindowTestEnvironment.h"

namespace quenbril::test {
namespace {

class ChatSplitWindow : public ChatWindowTest {
  protected:
    void TearDown() override {
        if (window) window->hide();
        window.reset();
        ChatWindowTest::TearDown();
    }

    void open() {
        window = std::make_shared<ChatSplitViewController>(sharedChatServices(), &alerts);
        window->show();
    }

    std::shared_ptr<ChatSplitViewController> window;
};

TEST_F(ChatSplitWindow, TheMessagePaneComesFirstAndTheQuickMessagesSendToItsRecipient) {
    setClients({"bob"});
    open();
    ASSERT_EQ(window->count(), 2);
    EXPECT_EQ(window->widget(0), window->tableController());
    EXPECT_EQ(window->widget(1), window->buttonController());
    EXPECT_EQ(window->tableController()->delegate(), window.get());

    window->tableController()->chatTarget()->setCurrentIndex(1);
    EXPECT_EQ(window->buttonController()->recipient(), "bob");

    // The panes the main window keeps keep the window.
    std::shared_ptr<ChatTable> table = window->firstChild();
    std::shared_ptr<ChatButtons> buttons = window->lastChild();
    std::weak_ptr<ChatSplitViewController> weak = window;
    window->hide();
    window.reset();
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(table.get(), static_cast<ChatTable*>(weak.lock()->tableController()));
    table.reset();
    buttons.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(ChatSplitWindow, CollapsingThenExpandingReturnsTheDividerWhereItWas) {
    defaults().setObject(Value("100 100 800 400"), ChatSplitViewController::kFrameName);
    open();
    window->setSizes({500, 250});
    const QList<int> before = window->sizes();
    SendButton& expand = *window->tableController()->expandButton();

    window->tableController()->sendClicked(expand);
    EXPECT_EQ(window->sizes()[1], 0) << "collapsed";
    EXPECT_EQ(window->divPos(), static_cast<float>(before[0]));
    EXPECT_EQ(expand.title()->text(), "+");

    window->tableController()->sendClicked(expand);
    EXPECT_EQ(window->sizes(), before);
    EXPECT_EQ(expand.title()->text(), "-");
}

TEST_F(ChatSplitWindow, ItStaysOnTopUnlessTheChatSettingsSayNotAndRereadsThemWhenTheyChange) {
    store("bob", "text");
    open();
    EXPECT_EQ(window->tableController()->numberOfRows(), 1);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << "nothing stored";

    defaults().setObject(Value(Dictionary{{"onTop", 0}, {"userMes", 1}}), "chatSettings");
    NotificationCenter::defaultCenter().post(kSettingsChangedNotification);
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isVisible()) << "a new level keeps the window on screen";
    EXPECT_EQ(window->tableController()->numberOfRows(), 1);

    defaults().setObject(Value(Dictionary{{"onTop", 1}}), "chatSettings");
    NotificationCenter::defaultCenter().post(kSettingsChangedNotification);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(window->tableController()->numberOfRows(), 0) << "the filters are read again";
}

TEST_F(ChatSplitWindow, TheFrameIsKeptFromOneOpeningToTheNext) {
    open();
    window->setGeometry(120, 90, 640, 360);
    const QRect frame = window->geometry();
    EXPECT_TRUE(window->close());
    EXPECT_EQ(defaults().stringForKey(ChatSplitViewController::kFrameName),
              WindowFrameAutosave::frameText(frame));
    loop_->runPending();

    // A quit with the window open keeps its frame as well.
    open();
    window->setGeometry(200, 150, 600, 300);
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
    EXPECT_EQ(defaults().stringForKey(ChatSplitViewController::kFrameName),
              WindowFrameAutosave::frameText(window->geometry()));
    window->setGeometry(frame);
    window->close();
    loop_->runPending();

    open();
    // The offscreen platform places a window given its frame before showing by its own
    // margins of a pixel or two; the size is exact.
    EXPECT_EQ(window->size(), frame.size());
    EXPECT_LE((window->pos() - frame.topLeft()).manhattanLength(), 4);
}

// ---- One window at a time ----

TEST_F(ChatSplitWindow, OpeningAShownChatWindowBringsItForwardAndMakesNoOther) {
    ChatWindowOpener opener(sharedChatServices(), &alerts);
    std::shared_ptr<SegueDestination> first = opener();
    ASSERT_NE(first, nullptr);
    first->show();
    const ChatWindowOpener copy = opener;
    EXPECT_EQ(copy(), nullptr) << "copies share the window";
    ASSERT_EQ(opener.shownWindow(), first);

    ASSERT_TRUE(opener.shownWindow()->close());
    EXPECT_EQ(opener.shownWindow(), nullptr);
    std::shared_ptr<SegueDestination> second = opener();
    EXPECT_NE(second, nullptr);
    EXPECT_NE(second, first);
}

/// The application's main window controller with the chat window as its "showSplit".
class MainWindowChat : public ChatWindowTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatWindowTest::SetUp());
        controller = std::make_unique<ViewController>(sharedMainWindowServices());
        SegueTable segues;
        opener.emplace(sharedChatServices(), &alerts);
        segues.add("showSplit", *opener);
        controller->setSegueTable(std::move(segues));
        controller->addActionObservers();
    }
    void TearDown() override {
        if (auto shown = opener ? opener->shownWindow() : nullptr) shown->hide();
        controller.reset();
        ChatWindowTest::TearDown();
    }
    bool savedChatOpen() {
        controller->viewWillDisappear();
        auto record = defaults().dictionaryForKey("Settings");
        return record && (*record)["chatOpen"].boolValue().value_or(false);
    }

    // Made once the fixture has fresh shared instances.
    std::optional<ChatWindowOpener> opener;
    std::unique_ptr<ViewController> controller;
};

TEST_F(MainWindowChat, TheMainWindowKeepsThePanesOfTheWindowOnScreen) {
    EXPECT_FALSE(savedChatOpen());
    controller->showHideChat();
    std::shared_ptr<ChatSplitViewController> shown = opener->shownWindow();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(controller->chatVC().get(), static_cast<ChatTable*>(shown->tableController()));
    EXPECT_EQ(controller->chatButtonVC().get(),
              static_cast<ChatButtons*>(shown->buttonController()));
    EXPECT_TRUE(savedChatOpen());

    // Opened again: the same window, still the one the main window feeds.
    controller->showHideChat();
    EXPECT_EQ(opener->shownWindow(), shown);
    EXPECT_EQ(controller->chatVC().get(), static_cast<ChatTable*>(shown->tableController()));

    // Closed: the main window lets go, the window goes after this turn of the run loop.
    std::weak_ptr<ChatSplitViewController> weak = shown;
    shown.reset();
    ASSERT_TRUE(weak.lock()->close());
    EXPECT_EQ(controller->chatVC(), nullptr);
    EXPECT_EQ(controller->chatButtonVC(), nullptr);
    EXPECT_FALSE(savedChatOpen());
    loop_->runPending();
    EXPECT_TRUE(weak.expired());

    controller->showHideChat();
    ASSERT_NE(opener->shownWindow(), nullptr);
    EXPECT_TRUE(savedChatOpen());
}

TEST_F(MainWindowChat, TheMainWindowsLockCoversTheOpenChatWindow) {
    controller->showHideChat();
    std::shared_ptr<ChatSplitViewController> shown = opener->shownWindow();
    ASSERT_NE(shown, nullptr);
    ChatButtonViewController* buttons = shown->buttonController();
    EXPECT_EQ(buttons->chatButtons().size(), 8u) << "the quick messages are there";
    controller->lock(true);
    EXPECT_TRUE(shown->tableController()->isCovered());
    ASSERT_NE(buttons->lockView(), nullptr) << "the quick-message pane has its cover";
    EXPECT_TRUE(buttons->lockView()->isVisible());
    controller->lock(false);
    EXPECT_FALSE(shown->tableController()->isCovered());

    // Opened while locked: covered at once.
    shown->close();
    controller->lock(true);
    controller->showHideChat();
    ASSERT_NE(opener->shownWindow(), nullptr);
    EXPECT_TRUE(opener->shownWindow()->tableController()->isCovered());
}

}  // namespace
}  // namespace quenbril::test
