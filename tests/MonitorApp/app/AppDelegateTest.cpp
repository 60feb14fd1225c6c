// The application delegate's menu: the chat menu's quick-message titles, the tags of its items,
// the lock and mute titles and the modes that exclude each other; and what it tells at launch.

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "DarIrudovOzuzari/ZICrashes.h"
#include "RizUdidadIzezozure/ZIAnalytics.h"
#include "ZurIrirur/ZIZurIrirur.h"
#include "tests/MonitorApp/app/AppTest.h"
#include "tests/support/DeepPlist.h"
#include "tests/support/QtTestTime.h"

namespace quenbril::test {
namespace {

class AppDelegateTest : public AppTest {
  protected:
    QList<QAction*> chatItems() const { return delegate->chatMenu()->actions(); }
    static std::string title(const QAction* item) { return item->text().toStdString(); }

    /// Launches over a settings file that is there but cannot be read, makes a change and
    /// quits: the user is told once which file, why, and that the change is not kept.
    void launchChangeAndQuit(const std::string& file, const std::string& reason) {
        startAgain();
        launch();
        ASSERT_EQ(alerts.texts.size(), 1u);
        EXPECT_EQ(alerts.windows[0], controller);
        EXPECT_EQ(alerts.texts[0], "The settings file " + file + " cannot be read (" + reason +
                                       "). It is left as it is and the settings start empty; "
                                       "settings changed now will not be kept.");
        // The run goes on with the change in force, though it is not saved.
        EXPECT_EQ(title(chatItems()[0]), "Send \"Custom message 1\"");
        settings().setChatUsername("Stage left");
        EXPECT_FALSE(settings().saveSettings());
        EXPECT_EQ(settings().chatUsername(), "Stage left");
        window->viewWillDisappear();
        EXPECT_FALSE(defaults().synchronize());
        EXPECT_EQ(alerts.texts.size(), 1u) << "told once";
        EXPECT_FALSE(defaults().takeUnreadable());
    }
};

// Root reads every file whatever its mode; without these two capabilities, dropped for the
// calling thread only, it meets a file's permission bits as a user does.
class WithoutReadingEveryFile {
  public:
    WithoutReadingEveryFile() {
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
        dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = syscall(SYS_capset, &header_, dropped) == 0;
    }
    ~WithoutReadingEveryFile() {
        if (dropped_) syscall(SYS_capset, &header_, saved_);
    }

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool dropped_ = false;
};

TEST_F(AppDelegateTest, WithoutStoredQuickMessagesTheDefaultsAreStoredAndShownFromTheTop) {
    launch();
    const QList<QAction*> items = chatItems();
    ASSERT_GE(items.size(), 8);
    for (int i = 0; i < AppDelegate::kQuickMessageItems; ++i) {
        const std::string text = "Custom message " + std::to_string(i + 1);
        EXPECT_EQ(title(items[i]), "Send \"" + text + "\"");
        EXPECT_EQ(defaults().stringForKey("CB " + std::to_string(7 - i)), text);
        // A click sends the text stored under the key the title shows.
        EXPECT_EQ(items[i]->data().toInt(), 7 - i);
    }
    EXPECT_EQ(items[7]->data().toInt(), 0);
    // The stored defaults are the ones the next start reads.
    restart();
    EXPECT_EQ(defaults().stringForKey("CB 7"), "Custom message 1");
}

TEST_F(AppDelegateTest, ASettingsFileSetAsideIsToldOnceOverTheMainWindow) {
    // The log alone said so: the user found every setting gone without a word.
    const std::filesystem::path file = defaults().path();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << test::deepXmlPlist(test::kCrashingDepth);
    restart();
    EXPECT_TRUE(defaults().storedValues().empty());
    launch();
    ASSERT_EQ(alerts.texts.size(), 1u);
    EXPECT_EQ(alerts.windows[0], controller);
    const std::string& text = alerts.texts[0];
    EXPECT_NE(text.find(file.string()), std::string::npos) << text;
    EXPECT_NE(text.find(".corrupt-"), std::string::npos) << text;
    EXPECT_NE(text.find("nested too deeply"), std::string::npos) << text;
    EXPECT_FALSE(defaults().takeSetAside()) << "told once";
}

// A settings file that could not be read was only logged: every change of the run was lost at
// quit without a word. It is left as it is, as it may be readable again (as its owner, say).
TEST_F(AppDelegateTest, AFolderInPlaceOfTheSettingsFileIsToldOnceAndLeftAsItIs) {
    const std::filesystem::path file = defaults().path();
    std::filesystem::create_directories(file);
    ASSERT_NO_FATAL_FAILURE(launchChangeAndQuit(file.string(), "Is a directory"));
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_TRUE(std::filesystem::is_empty(file));
}

TEST_F(AppDelegateTest, ASettingsFileThisUserMayNotReadIsToldOnceAndLeftAsItIs) {
    const std::filesystem::path file = defaults().path();
    std::filesystem::create_directories(file.parent_path());
    const std::string text =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>columns</key>"
        "<integer>3</integer></dict></plist>";
    std::ofstream(file) << text;
    std::filesystem::permissions(file, std::filesystem::perms::none);
    {
        WithoutReadingEveryFile asAUser;
        if (const int fd = ::open(file.c_str(), O_RDONLY); fd >= 0) {
            ::close(fd);
            GTEST_SKIP() << "this process reads files whatever their mode";
        }
        ASSERT_NO_FATAL_FAILURE(launchChangeAndQuit(file.string(), "Permission denied"));
    }
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::none);
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1)
        << "nothing written beside it";
}

// F1 to F7 in the main window send the texts of the chat window's buttons with those labels
// (message n is the button "F<8 - n>"), F8 the clicked channel as that button does.
TEST_F(AppDelegateTest, TheFunctionKeysInTheMainWindowSendTheQuickMessagesTheyName) {
    for (int slot = 1; slot <= 7; ++slot) {
        defaults().setObject(Value("quick " + std::to_string(slot)), "CB " + std::to_string(slot));
    }
    launch();
    window->showMainWindow();
    window->activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(window.get()));
    NotificationRecorder posted("ChatMessage");
    for (int key = 1; key <= 7; ++key) {
        QTest::keyClick(window.get(), static_cast<Qt::Key>(Qt::Key_F1 + key - 1));
        ASSERT_EQ(posted.posted.size(), static_cast<size_t>(key)) << "F" << key;
        EXPECT_EQ(posted.posted.back()["message"], Value("quick " + std::to_string(8 - key)));
    }
    QAction* clicked = delegate->itemTitled("Send Clicked Channel");
    ASSERT_NE(clicked, nullptr);
    EXPECT_TRUE(clicked->shortcuts().contains(QKeySequence(Qt::Key_F8)));
}

TEST_F(AppDelegateTest, TheLaunchStartsTheTelemetryWithAnalyticsAndThenCrashes) {
    ZIZurIrirur::resetSharedInstance();
    launch();
    const ZIZurIrirur& sdk = ZIZurIrirur::sharedInstance();
    EXPECT_TRUE(sdk.isStarted());
    const ZIZurIrirur::Services started = sdk.startedServices();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0], &ZIAnalytics::kService);
    EXPECT_EQ(started[1], &ZICrashes::kService);
    EXPECT_STREQ(started[0]->name(), "ZIAnalytics");
    EXPECT_STREQ(started[1]->name(), "ZICrashes");
}

// The menu reaches the main window through the strip manager, where the window sets itself as
// it loads; before that the items that need it do nothing, and a window that goes clears it.
TEST_F(AppDelegateTest, TheMainWindowIsFoundThroughTheStripManagerOnceItHasLoaded) {
    EXPECT_EQ(delegate->getMainVC(), nullptr);
    delegate->itemTitled("Preferences…")->trigger();
    EXPECT_TRUE(segues.empty());

    launch();
    EXPECT_EQ(manager().mainViewController(), controller);
    EXPECT_EQ(delegate->getMainVC(), controller);
    delegate->itemTitled("Preferences…")->trigger();
    EXPECT_EQ(segues, std::vector<std::string>{"showSettings"});

    {
        auto* other = new ViewController(sharedMainWindowServices());
        MainWindow second(other);
        other->viewDidLoad();
        EXPECT_EQ(manager().mainViewController(), other);
        EXPECT_EQ(delegate->getMainVC(), controller) << "the one found first is kept";
        connectLinkSenders(nullptr, *other);
    }
    EXPECT_EQ(manager().mainViewController(), nullptr);
    EXPECT_EQ(delegate->getMainVC(), controller);
}

TEST_F(AppDelegateTest, TitlesFollowTheStoredQuickMessagesWhenTheyChange) {
    defaults().setObject(Value("Stand by"), "CB 1");
    launch();
    EXPECT_EQ(title(chatItems()[6]), "Send \"Stand by\"");

    defaults().setObject(Value("Go \"now\""), "CB 7");
    EXPECT_EQ(title(chatItems()[0]), "Send \"Custom message 1\"");  // not until told
    NotificationCenter::defaultCenter().post("ChatMessagesChanged");
    EXPECT_EQ(title(chatItems()[0]), "Send \"Go \"now\"\"");
}

TEST_F(AppDelegateTest, AChatMenuOfFewerThanEightItemsIsLeftAlone) {
    QMenu* chat = delegate->chatMenu();
    while (chat->actions().size() > 7) chat->removeAction(chat->actions().back());
    const std::string before = title(chat->actions()[0]);
    launch();
    EXPECT_EQ(title(chat->actions()[0]), before);
    for (int k = 1; k <= 7; ++k) {
        EXPECT_TRUE(defaults().objectForKey("CB " + std::to_string(k)).isNull()) << k;
    }
}

TEST_F(AppDelegateTest, PageAndClickedChannelItemsPostChatMessagesToEveryone) {
    launch();
    settings().setChatUsername("FOH");
    NotificationRecorder posted("ChatMessage");

    delegate->chatButtonClick(*delegate->itemTitled("Page"));
    ASSERT_EQ(posted.posted.size(), 1u);
    const Dictionary& page = posted.posted[0];
    EXPECT_EQ(*page["message"].stringValue(), "FOH paging!");
    EXPECT_EQ(*page["sender"].stringValue(), "FOH");
    EXPECT_EQ(*page["uuid"].stringValue(), ChatManager::uuid());
    EXPECT_EQ(page["type"].longLongValue(), 5);
    EXPECT_EQ(*page["recipient"].stringValue(), "All");
    EXPECT_TRUE(page["messageId"].isNull());

    manager().setPreviouslyClickedChannel("Lead vocal");
    delegate->chatButtonClick(*chatItems()[7]);
    ASSERT_EQ(posted.posted.size(), 2u);
    EXPECT_EQ(*posted.posted[1]["message"].stringValue(), "Lead vocal");
    EXPECT_EQ(posted.posted[1]["type"].longLongValue(), 0);

    manager().setPreviouslyClickedChannel("");
    delegate->chatButtonClick(*chatItems()[7]);
    EXPECT_EQ(posted.posted.size(), 2u);
}

TEST_F(AppDelegateTest, TheLockItemAlternatesBetweenLockAndUnlock) {
    std::vector<bool> told;
    delegate->setLockHandler([&](bool on) { told.push_back(on); });
    QAction* lock = delegate->lockItem();
    ASSERT_EQ(title(lock), "Lock");
    lock->trigger();
    EXPECT_EQ(title(lock), "Unlock");
    lock->trigger();
    EXPECT_EQ(title(lock), "Lock");
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

TEST_F(AppDelegateTest, SwitchingOneModeOnSwitchesTheOtherOffAndClearsItsItem) {
    launch();
    QAction* notebook = delegate->notebookModeItem();
    QAction* micCheck = delegate->micCheckItem();

    notebook->trigger();
    EXPECT_TRUE(settings().notebookMode());
    EXPECT_TRUE(notebook->isChecked());

    micCheck->trigger();
    EXPECT_TRUE(settings().micCheckMode());
    EXPECT_TRUE(micCheck->isChecked());
    EXPECT_FALSE(settings().notebookMode());
    EXPECT_FALSE(notebook->isChecked());

    notebook->trigger();
    EXPECT_TRUE(settings().notebookMode());
    EXPECT_FALSE(settings().micCheckMode());
    EXPECT_FALSE(micCheck->isChecked());

    // Switching a mode off leaves the other off.
    notebook->trigger();
    EXPECT_FALSE(settings().notebookMode());
    EXPECT_FALSE(settings().micCheckMode());
    EXPECT_FALSE(notebook->isChecked());
}

TEST_F(AppDelegateTest, HardMuteFollowsItsItemAndTheStatusLineShowsIt) {
    launch();
    settings().setActAsClient(true);
    QAction* hardMute = delegate->hardMuteItem();
    hardMute->trigger();
    EXPECT_TRUE(settings().hardMuting());
    EXPECT_TRUE(hardMute->isChecked());
    hardMute->trigger();
    EXPECT_FALSE(settings().hardMuting());
    EXPECT_FALSE(hardMute->isChecked());
}

TEST_F(AppDelegateTest, ToolItemsSelectTheirToolsAndPreferencesPerformsItsSegue) {
    launch();
    delegate->itemTitled("Zoom Tool")->trigger();
    EXPECT_EQ(settings().selectedTool(), 2);
    delegate->itemTitled("Selection Zoom Tool")->trigger();
    EXPECT_EQ(settings().selectedTool(), 1);
    delegate->itemTitled("Selection Tool")->trigger();
    EXPECT_EQ(settings().selectedTool(), 0);

    segues.clear();
    delegate->itemTitled("Preferences…")->trigger();
    EXPECT_EQ(segues, std::vector<std::string>{"showSettings"});
    delegate->itemTitled("Quit")->trigger();
    EXPECT_EQ(quits, 1);
}

TEST_F(AppDelegateTest, MenuShortcutsAllUseCtrlButTheQuickMessagesFunctionKeys) {
    for (QAction* entry : window->menuBar()->actions()) {
        for (QAction* item : entry->menu()->actions()) {
            if (item->shortcut().isEmpty()) continue;
            const Qt::Key key = item->shortcut()[0].key();
            if (key >= Qt::Key_F1 && key <= Qt::Key_F8) {
                // Quick message n is the chat window's button "F<8 - n>".
                EXPECT_EQ(key, Qt::Key_F1 + 7 - item->data().toInt()) << title(item);
                continue;
            }
            EXPECT_TRUE(item->shortcut()[0].keyboardModifiers() & Qt::ControlModifier)
                << title(item);
        }
    }
}

// Keys typed into the main window while it is locked: the menu's shortcuts that send to the
// server or change the show do nothing; Unlock (its own key) still works, and then they act.
TEST_F(AppDelegateTest, WhileLockedTheMenuKeysThatSendOrChangeTheShowRest) {
    launch();
    delegate->setLockHandler([this](bool on) { controller->lock(on); });
    window->show();
    window->activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(window.get()));
    auto type = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QTest::keyClick(window.get(), key, modifiers);
    };

    type(Qt::Key_L);
    ASSERT_TRUE(settings().isLocked());
    sender.sent.clear();
    type(Qt::Key_K);                                           // solo clear
    type(Qt::Key_R);                                           // reset alerts
    type(Qt::Key_P);                                           // page
    type(Qt::Key_H);                                           // hard mute
    type(Qt::Key_M);                                           // mute
    type(Qt::Key_3);                                           // zoom tool
    type(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);  // notebook mode
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_FALSE(settings().hardMuting());
    EXPECT_FALSE(settings().notebookMode());
    EXPECT_EQ(settings().selectedTool(), 0);
    EXPECT_EQ(title(delegate->muteItem()), "Mute");
    for (QAction* item : delegate->lockedItems()) EXPECT_FALSE(item->isEnabled()) << title(item);

    type(Qt::Key_L);
    ASSERT_FALSE(settings().isLocked());
    type(Qt::Key_K);
    ASSERT_EQ(sender.sent.size(), 1u);
    type(Qt::Key_H);
    EXPECT_TRUE(settings().hardMuting());
}

}  // namespace
}  // namespace quenbril::test
