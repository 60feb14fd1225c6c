// The windows the main menu opens, as the application is put together: one of each kind, kept
// open once shown.

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ui/ChatMacroViewController.h"
#include "MonitorApp/chat/ui/ChatSplitViewController.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/AddNoteViewController.h"
#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/preferences/UserPrefsViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/editor/ChannelStripViewController.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {
namespace {

class MenuWindowsTest : public StripTest {
  protected:
    // The remote asks no sound system of the machine; this outlives TearDown().
    FakeSoundBackends sound;

    void TearDown() override {
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        loop_->runPending();
        StripTest::TearDown();
    }

    template <typename Window>
    static int shown() {
        int count = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (dynamic_cast<Window*>(window) && window->isVisible()) ++count;
        }
        return count;
    }
    static int playerListWindows() { return shown<PlayerListViewController>(); }
};

TEST_F(MenuWindowsTest, TheItemOpensOneListAndBringsItForwardWhenItIsOpen) {
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

TEST_F(MenuWindowsTest, TheListsAddButtonOpensThePerformerEditor) {
    RemoteComposition composition;
    composition.appDelegate().itemTitled("Players…")->trigger();
    PlayerListViewController* list = composition.playerList();
    ASSERT_NE(list, nullptr);
    list->addButton()->click();
    loop_->runPending();
    ASSERT_EQ(shown<PlayerViewController>(), 1);
    PlayerViewController* editor = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* e = dynamic_cast<PlayerViewController*>(window); e && e->isVisible()) editor = e;
    }
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->readOnly()) << "the editing mode, for a new player";
    editor->close();
    loop_->runPending();
    EXPECT_EQ(shown<PlayerViewController>(), 0);
}

TEST_F(MenuWindowsTest, TheMicCheckAndTimecodeItemsOpenOneWindowEach) {
    RemoteComposition composition;
    QAction* micCheck = composition.appDelegate().itemTitled("Mic Check…");
    QAction* timecode = composition.appDelegate().itemTitled("Timecode…");
    ASSERT_NE(micCheck, nullptr);
    ASSERT_NE(timecode, nullptr);
    EXPECT_EQ(composition.micCheck(), nullptr);
    EXPECT_EQ(composition.timecode(), nullptr);

    for (int i = 0; i < 2; ++i) {
        micCheck->trigger();
        timecode->trigger();
    }
    EXPECT_EQ(shown<MicCheckViewController>(), 1);
    EXPECT_EQ(shown<BigLTCViewController>(), 1);
    BigLTCViewController* window = composition.timecode();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isRunning());
    window->close();
    EXPECT_FALSE(window->isRunning());
    timecode->trigger();
    EXPECT_EQ(composition.timecode(), window);
    EXPECT_TRUE(window->isRunning());
}

TEST_F(MenuWindowsTest, TheChatButtonOpensOneChatWindowThatStaysOpen) {
    RemoteComposition composition;
    composition.viewController().showHideChat();
    loop_->runPending();
    EXPECT_EQ(shown<ChatSplitViewController>(), 1);
    EXPECT_NE(composition.viewController().chatVC(), nullptr);
    composition.viewController().showHideChat();
    loop_->runPending();
    EXPECT_EQ(shown<ChatSplitViewController>(), 1);
}

TEST_F(MenuWindowsTest, ThePreferencesStayOpenAndOpenOnce) {
    RemoteComposition composition;
    // The menu reaches the main window once its view has loaded, as at the start.
    composition.viewController().viewDidLoad();
    QAction* item = composition.appDelegate().itemTitled("Preferences…");
    ASSERT_NE(item, nullptr);
    item->trigger();
    loop_->runPending();
    EXPECT_EQ(shown<SettingsTabViewController>(), 1) << "the window outlives the menu's action";
    item->trigger();
    loop_->runPending();
    EXPECT_EQ(shown<SettingsTabViewController>(), 1);
}

TEST_F(MenuWindowsTest, ChannelStripsOpensOneStripEditorAndNotThePreferences) {
    RemoteComposition composition;
    QAction* item = composition.appDelegate().itemTitled("Channel Strips…");
    ASSERT_NE(item, nullptr);
    item->trigger();
    loop_->runPending();
    ChannelStripViewController* editor = composition.channelStrips();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(shown<SettingsTabViewController>(), 0);
    item->trigger();
    EXPECT_EQ(composition.channelStrips(), editor);
    EXPECT_EQ(shown<ChannelStripViewController>(), 1);

    // Closed and opened again: a fresh editor, resting the engine anew.
    editor->closeClicked();
    EXPECT_TRUE(PELAudioEngine::sharedInstance().isListening());
    item->trigger();
    EXPECT_EQ(shown<ChannelStripViewController>(), 1);
    EXPECT_FALSE(PELAudioEngine::sharedInstance().isListening());
}

TEST_F(MenuWindowsTest, MidiMacrosOpensOneMacroEditorWhoseClosingStoresTheList) {
    ChatMacroManager::resetSharedInstance();
    RemoteComposition composition;
    QAction* item = composition.appDelegate().itemTitled("MIDI Macros…");
    ASSERT_NE(item, nullptr);
    item->trigger();
    item->trigger();
    EXPECT_EQ(shown<ChatMacroViewController>(), 1);
    ASSERT_NE(composition.chatMacros(), nullptr);
    composition.chatMacros()->closeClicked();
    EXPECT_EQ(shown<ChatMacroViewController>(), 0);
    EXPECT_TRUE(UserDefaults::standardUserDefaults().arrayForKey(ChatMacroManager::kDefaultsKey));
    ChatMacroManager::resetSharedInstance();
}

TEST_F(MenuWindowsTest, AMacroLearntWithTheEditorOpenIsStoredAtQuit) {
    ChatMacroManager::resetSharedInstance();
    RemoteComposition composition;
    composition.appDelegate().itemTitled("MIDI Macros…")->trigger();
    ChatMacroManager::sharedInstance().learn("late");
    NotificationCenter::defaultCenter().post(
        "MIDIEventReceived",
        Dictionary{{"byte1", 7}, {"byte2", 127}, {"channel", 0}, {"command", 0xB0}});
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
    const auto stored =
        UserDefaults::standardUserDefaults().arrayForKey(ChatMacroManager::kDefaultsKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 1u);
    ChatMacroManager::resetSharedInstance();
}

TEST_F(MenuWindowsTest, EditsInAnOpenPreferencesWindowAreStoredAtQuit) {
    RemoteComposition composition;
    // The menu reaches the main window once its view has loaded, as at the start.
    composition.viewController().viewDidLoad();
    composition.appDelegate().itemTitled("Preferences…")->trigger();
    SettingsTabViewController* preferences = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* found = dynamic_cast<SettingsTabViewController*>(window);
        if (found && found->isVisible()) preferences = found;
    }
    ASSERT_NE(preferences, nullptr);
    preferences->userPrefs()->longClickDuration()->setText("2.5");
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
    EXPECT_FALSE(preferences->isVisible());
    UserDefaults::resetStandardUserDefaults();
    const auto stored = UserDefaults::standardUserDefaults().dictionaryForKey(
        UserSettingsManager::kUserSettingsKey);
    ASSERT_TRUE(stored);
    EXPECT_FLOAT_EQ((*stored)["longClickDuration"].floatValue().value_or(0), 2.5f);
}

TEST_F(MenuWindowsTest, ShowSnapshotsOpensOneSelectorAndBringsItForward) {
    RemoteComposition composition;
    // The menu reaches the main window once its view has loaded, as at the start.
    composition.viewController().viewDidLoad();
    QAction* item = composition.appDelegate().itemTitled("Show Snapshots");
    ASSERT_NE(item, nullptr);
    item->trigger();
    EXPECT_EQ(shown<SnapshotSelectorViewController>(), 1);
    item->trigger();
    EXPECT_EQ(shown<SnapshotSelectorViewController>(), 1);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (dynamic_cast<SnapshotSelectorViewController*>(window)) window->close();
    }
    item->trigger();
    EXPECT_EQ(shown<SnapshotSelectorViewController>(), 1);
}

TEST_F(MenuWindowsTest, TheNotebookOpensOnceAndFloats) {
    RemoteComposition composition;
    QAction* item = composition.appDelegate().itemTitled("Notebook…");
    ASSERT_NE(item, nullptr);
    item->trigger();
    NotebookViewController* notebook = composition.notebook();
    ASSERT_NE(notebook, nullptr);
    EXPECT_TRUE(notebook->windowFlags() & Qt::WindowStaysOnTopHint);
    item->trigger();
    EXPECT_EQ(composition.notebook(), notebook);
    EXPECT_EQ(shown<NotebookViewController>(), 1);
}

TEST_F(MenuWindowsTest, ALongClickInNotebookModeOpensOneNoteSheetOnTheMainWindow) {
    NotebookManager::resetSharedInstance();
    RemoteComposition composition;
    settings().setNotebookMode(true);
    // The main window's view is not loaded here: its observer is called as the strip would.
    for (int click = 0; click < 2; ++click) {
        composition.viewController().csLongClicked(
            Notification{"CSLongClicked", Dictionary{{"index", 42}}});
    }
    AddNoteViewController* sheet = composition.addNoteSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), static_cast<QWidget*>(&composition.mainWindow()));
    EXPECT_EQ(shown<AddNoteViewController>(), 1);
    EXPECT_EQ(NotebookManager::sharedInstance().latestCsID(), 42);
    sheet->cancelClicked();
    EXPECT_EQ(shown<AddNoteViewController>(), 0);
    NotebookManager::resetSharedInstance();
}

}  // namespace
}  // namespace quenbril::test
