// Every window of the application opens with the frame the window manager draws round it, title
// bar included, on the screen's free area: on a large screen, and on the same screen at twice
// the scale (where the main window and the preferences' panes are larger than the screen at
// their least), also where it was left as large as the screen. The frame is read from the X
// server as the manager sets it, not from what the application believes.

#include <QAction>
#include <QPushButton>
#include <QScreen>
#include <functional>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/chat/ui/ChatSplitViewController.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
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

class WindowPlacement : public ManagedWindowsTest {
  protected:
    /// A window of the application, how it is opened and found, and the name its frame is
    /// stored under (none where it stores none).
    struct Opening {
        const char* name;
        std::function<void()> open;
        std::function<QWidget*()> window;
        const char* frameName = nullptr;
    };

    std::vector<Opening> openings() {
        AppDelegate& menu = composition->appDelegate();
        auto item = [&menu](const char* title) {
            return [&menu, title] {
                if (QAction* action = menu.itemTitled(title)) action->trigger();
            };
        };
        return {
            {"preferences", item("Preferences…"),
             [] { return shown<SettingsTabViewController>(); }},
            {"performer", [this] { composition->viewController().performSegue("editPlayer"); },
             [] { return shown<PlayerViewController>(); }, PlayerViewController::kFrameName},
            {"player list", item("Players…"), [] { return shown<PlayerListViewController>(); }},
            {"player editor",
             [this] {
                 composition->openPlayerList();
                 QTest::mouseClick(composition->playerList()->addButton(), Qt::LeftButton);
             },
             []() -> QWidget* {
                 for (QWidget* window : QApplication::topLevelWidgets()) {
                     auto* editor = dynamic_cast<PlayerViewController*>(window);
                     if (editor && editor->isVisible() && !editor->readOnly()) return editor;
                 }
                 return nullptr;
             },
             PlayerViewController::kFrameName},
            {"mic check", item("Mic Check…"), [] { return shown<MicCheckViewController>(); },
             MicCheckViewController::kFrameName},
            {"timecode", item("Timecode…"), [] { return shown<BigLTCViewController>(); }},
            {"notebook", item("Notebook…"), [] { return shown<NotebookViewController>(); },
             NotebookViewController::kFrameName},
            {"snapshots", item("Show Snapshots"),
             [] { return shown<SnapshotSelectorViewController>(); },
             SnapshotSelectorViewController::kFrameName},
            {"chat", [this] { composition->viewController().showHideChat(); },
             [] { return shownWindow("Chat"); }, ChatSplitViewController::kFrameName},
            {"strip editor", item("Channel Strips…"),
             [] { return shown<ChannelStripViewController>(); }},
        };
    }

    /// Opens each window in turn and looks at where the window manager shows it.
    void openEachOnTheScreen(const std::vector<Opening>& windows) {
        for (const Opening& opening : windows) {
            SCOPED_TRACE(opening.name);
            opening.open();
            QWidget* window = nullptr;
            ASSERT_TRUE(QTest::qWaitFor([&] { return (window = opening.window()) != nullptr; },
                                        kPatienceMs));
            ASSERT_TRUE(settled(*window));
            EXPECT_EQ(offTheScreen(*window), "");
            // The title bar's close button lies in its top right corner: a click there closes.
            window->close();
        }
    }
};

// Run on a 1920 x 1200 screen, and on it again at twice the scale (960 x 600 points, smaller than
// the main window at its least and than the preferences' panes).
TEST_F(WindowPlacement, EveryWindowOpensWithItsFrameOnTheScreen) {
    ASSERT_TRUE(stripsShown()) << server->log();
    {
        SCOPED_TRACE("the main window");
        ASSERT_TRUE(settled(composition->mainWindow()));
        EXPECT_EQ(offTheScreen(composition->mainWindow()), "");
    }
    openEachOnTheScreen(openings());
}

// A window left as large as the screen (its inside was stored, without the frame the window
// manager then adds) opens again on the screen, frame included.
TEST_F(WindowPlacement, AWindowLeftAsLargeAsTheScreenOpensAgainWithItsFrameOnIt) {
    ASSERT_TRUE(stripsShown()) << server->log();
    const QRect area = composition->mainWindow().screen()->availableGeometry();
    std::vector<Opening> stored;
    for (const Opening& opening : openings()) {
        if (!opening.frameName) continue;
        UserDefaults::standardUserDefaults().setObject(Value(WindowFrameAutosave::frameText(area)),
                                                       opening.frameName);
        stored.push_back(opening);
    }
    ASSERT_GE(stored.size(), 5u);
    openEachOnTheScreen(stored);
}

}  // namespace
}  // namespace quenbril::test
