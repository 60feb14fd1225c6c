// Every window of the application opens with the frame the window manager draws round it, title
// bar included, on the screen's free area: on a large screen, and on the same screen at twice
// the scale (where the main window is larger than the screen at its least). The frame is read
// from the X server as the manager sets it, not from what the application believes.

#include <QAction>
#include <QPushButton>
#include <functional>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/chat/ui/ChatMacroViewController.h"
#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/views/editor/ChannelStripViewController.h"
#include "tests/MonitorApp/app/ManagedWindowsTest.h"

namespace quenbril::test {
namespace {

using WindowPlacement = ManagedWindowsTest;

// Run on a 1920 x 1200 screen, and on it again at twice the scale.
TEST_F(WindowPlacement, EveryWindowOpensWithItsFrameOnTheScreen) {
    ASSERT_TRUE(stripsShown()) << server->log();
    {
        SCOPED_TRACE("the main window");
        ASSERT_TRUE(settled(composition->mainWindow()));
        EXPECT_EQ(offTheScreen(composition->mainWindow()), "");
    }
    AppDelegate& menu = composition->appDelegate();
    auto item = [&](const char* title) {
        return [&menu, title] {
            if (QAction* action = menu.itemTitled(title)) action->trigger();
        };
    };
    struct Opening {
        const char* name;
        std::function<void()> open;
        std::function<QWidget*()> window;
    };
    const std::vector<Opening> windows = {
        {"preferences", item("Preferences…"), [] { return shown<SettingsTabViewController>(); }},
        {"performer", [this] { composition->viewController().performSegue("editPlayer"); },
         [] { return shown<PlayerViewController>(); }},
        {"player list", item("Players…"), [] { return shown<PlayerListViewController>(); }},
        {"player editor",
         [this] {
             if (PlayerListViewController* list = composition->playerList())
                 QTest::mouseClick(list->addButton(), Qt::LeftButton);
         },
         [this]() -> QWidget* {
             for (QWidget* window : QApplication::topLevelWidgets()) {
                 auto* editor = dynamic_cast<PlayerViewController*>(window);
                 if (editor && editor->isVisible() && !editor->readOnly()) return editor;
             }
             return nullptr;
         }},
        {"mic check", item("Mic Check…"), [] { return shown<MicCheckViewController>(); }},
        {"timecode", item("Timecode…"), [] { return shown<BigLTCViewController>(); }},
        {"notebook", item("Notebook…"), [] { return shown<NotebookViewController>(); }},
        {"snapshots", item("Show Snapshots"),
         [] { return shown<SnapshotSelectorViewController>(); }},
        {"chat", [this] { composition->viewController().showHideChat(); },
         [] { return shownWindow("Chat"); }},
        {"strip editor", item("Channel Strips…"),
         [] { return shown<ChannelStripViewController>(); }},
    };
    for (const Opening& opening : windows) {
        SCOPED_TRACE(opening.name);
        opening.open();
        QWidget* window = nullptr;
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return (window = opening.window()) != nullptr; }, kPatienceMs));
        ASSERT_TRUE(settled(*window));
        std::fprintf(stderr, "DEBUG %s %s geometry %d,%d %dx%d min %dx%d\n", opening.name,
                     describe(WindowManager::frameOf(window->winId())).c_str(),
                     window->geometry().x(), window->geometry().y(), window->width(),
                     window->height(), window->minimumSizeHint().width(),
                     window->minimumSizeHint().height());
        EXPECT_EQ(offTheScreen(*window), "");
    }
}

}  // namespace
}  // namespace quenbril::test
