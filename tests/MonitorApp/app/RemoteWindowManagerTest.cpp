// The real application's windows as a window manager stacks, frames and places them, on an X
// display against the stand-in: the dialogs of the main window above the chat window (kept on
// top), a chat name taken from an imported settings file reaching the server, the chat window
// and the panels coming back where they were left, the large timecode growing with its digits
// within the screen, and the main window on a screen at twice the scale. Each case runs in an X
// server of its own, whose screen its ctest entry sets.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/support/InProcessRemote.h"
#include "tests/support/ScreenPicture.h"
#include "tests/support/WindowManager.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

class RemoteWindowManager : public InProcessRemoteTest {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (ctest runs xvfb-run)";
        manager_ = std::make_unique<WindowManager>();
        if (!manager_->running()) GTEST_SKIP() << "no window manager (openbox) could start";
        InProcessRemoteTest::SetUp();
    }

    /// The connection is confirmed, the server's state is in and panel A's strips are shown.
    bool stripsShown() const {
        return QTest::qWaitFor(
            [&] {
                QWidget* last = stripWidget(7);
                return composition->viewController().serverIsHere() && last && last->isVisible() &&
                       !QApplication::activeModalWidget();
            },
            kPatienceMs);
    }

    /// The shown window of the application with that title; null when none is.
    static QWidget* shownWindow(const QString& title) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && window->windowTitle() == title) return window;
        }
        return nullptr;
    }

    /// Whether the window manager has taken the window in.
    static bool managed(const QWidget& window) {
        for (uint32_t id : WindowManager::stackingOrder()) {
            if (id == window.winId()) return true;
        }
        return false;
    }

    /// Waits until the window manager has taken the window in and its place has stopped
    /// changing (the manager frames and places a window after it is mapped).
    static bool settled(const QWidget& window) {
        QRect last;
        int same = 0;
        return QTest::qWaitFor(
            [&] {
                if (!managed(window)) return false;
                same = window.geometry() == last ? same + 1 : 0;
                last = window.geometry();
                return same >= 5;
            },
            kPatienceMs);
    }

    QWidget* headerButton(const QString& title) const {
        // The buttons have no meta-object of their own: a search by type would match any widget.
        for (auto* widget : composition->viewController().findChildren<QWidget*>()) {
            auto* button = dynamic_cast<QBButton*>(widget);
            if (button && button->shownTitle() == title && button->isVisible()) return button;
        }
        return nullptr;
    }

    /// Opens the chat window with the header's CHAT button and waits until it is placed.
    QWidget* openChat() const {
        QWidget* chat = headerButton("CHAT");
        if (!chat) return nullptr;
        clickAt(*chat, chat->rect().center());
        QWidget* window = nullptr;
        if (!QTest::qWaitFor([&] { return (window = shownWindow("Chat")) != nullptr; },
                             kPatienceMs) ||
            !settled(*window)) {
            return nullptr;
        }
        return window;
    }

    /// Makes the main window the active one, as a click on it would, so that its keys reach it.
    bool activateMainWindow() const {
        QWidget& main = composition->mainWindow();
        main.raise();
        main.activateWindow();
        return QTest::qWaitFor([&] { return QApplication::activeWindow() == &main; }, kPatienceMs);
    }

    /// The whole screen, grabbed on a thread of its own while the event loop goes on.
    static QImage screen() {
        auto grab =
            std::async(std::launch::async, [] { return grabScreen(QUENBRIL_SCREENGRAB_PATH); });
        (void)QTest::qWaitFor(
            [&] { return grab.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            kPatienceMs);
        return grab.get();
    }

    /// The share of the window's pixels that the screen shows at its place: near 1 when nothing
    /// covers it. Taken again until it is above 0.9 or the patience runs out.
    static double shareShown(QWidget& window) {
        double share = 0;
        (void)QTest::qWaitFor(
            [&] {
                const QImage own = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
                const QImage shot = screen();
                const QRect place(window.mapToGlobal(QPoint(0, 0)), window.size());
                if (shot.isNull() || own.size() != place.size()) return false;
                int same = 0, all = 0;
                for (int y = 0; y < own.height(); ++y) {
                    for (int x = 0; x < own.width(); ++x) {
                        const QPoint at = place.topLeft() + QPoint(x, y);
                        if (!shot.rect().contains(at)) continue;
                        const QColor a = own.pixelColor(x, y), b = shot.pixelColor(at);
                        ++all;
                        if (std::abs(a.red() - b.red()) < 16 &&
                            std::abs(a.green() - b.green()) < 16 &&
                            std::abs(a.blue() - b.blue()) < 16) {
                            ++same;
                        }
                    }
                }
                share = all ? static_cast<double>(same) / all : 0;
                return share > 0.9;
            },
            kPatienceMs);
        return share;
    }

    /// A settings file holding only a chat name.
    static std::string settingsFileNaming(const std::string& folder, const std::string& name) {
        const std::string path = folder + "/show.qcf";
        std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                               "<dict><key>general</key><dict><key>chatUsername</key><string>"
                            << name << "</string></dict></dict></plist>\n";
        return path;
    }

    /// What a dialog looked like while it was shown.
    struct SeenDialog {
        bool file = false;
        QString text;
        bool aboveChat = false;
        double shareShown = 0;
    };

    /// Presses Ctrl+I in the main window and answers the dialogs that follow: the file panel
    /// with `path` typed and Return, an alert with Return. Each is looked at first.
    std::vector<SeenDialog> importWithKeys(const std::string& path, const QWidget* chat) {
        std::vector<SeenDialog> seen;
        bool busy = false;
        QTimer watch;
        watch.setInterval(50);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (busy || !dialog || !dialog->isVisible() || !managed(*dialog)) return;
            if (!seen.empty() &&
                seen.back().file == (qobject_cast<QFileDialog*>(dialog) != nullptr))
                return;  // answered already, not gone yet
            busy = true;
            SeenDialog look;
            look.file = qobject_cast<QFileDialog*>(dialog) != nullptr;
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) look.text = box->text();
            (void)settled(*dialog);
            look.aboveChat = chat && WindowManager::above(dialog->winId(), chat->winId());
            look.shareShown = shareShown(*dialog);
            seen.push_back(look);
            if (look.file) {
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                if (name) {
                    QTest::keyClicks(name, QString::fromStdString(path));
                    QTest::keyClick(name, Qt::Key_Return);
                }
            } else {
                QTest::keyClick(dialog, Qt::Key_Return);
            }
            busy = false;
        });
        watch.start();
        QTest::keyClick(&composition->mainWindow(), Qt::Key_I, Qt::ControlModifier);
        watch.stop();
        return seen;
    }

    std::unique_ptr<WindowManager> manager_;
};

TEST_F(RemoteWindowManager, TheMainWindowsDialogsShowAboveTheChatWindowKeptOnTop) {
    ASSERT_TRUE(stripsShown()) << server->log();
    QWidget* chat = openChat();
    ASSERT_NE(chat, nullptr);
    ASSERT_TRUE(chat->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << "on top by default";
    // The chat window over the middle of the main window, where its dialogs open.
    QRect over = chat->geometry();
    over.moveCenter(composition->mainWindow().geometry().center());
    chat->setGeometry(over);
    ASSERT_TRUE(QTest::qWaitFor([&] { return chat->geometry() == over; }, kPatienceMs));
    ASSERT_TRUE(activateMainWindow());

    // A file that is no settings file: the open panel, then "Problem importing settings!".
    const std::string bad = settings.path() + "/broken.qcf";
    std::ofstream(bad) << "not a property list";
    const std::vector<SeenDialog> seen = importWithKeys(bad, chat);
    ASSERT_EQ(seen.size(), 2u) << "the open panel and the alert";
    EXPECT_TRUE(seen[0].file);
    EXPECT_EQ(seen[1].text, "Problem importing settings!");
    for (const SeenDialog& dialog : seen) {
        SCOPED_TRACE(dialog.file ? "the open panel" : "the alert");
        EXPECT_TRUE(dialog.aboveChat) << "stacked above the chat window";
        EXPECT_GT(dialog.shareShown, 0.9) << "drawn whole on the screen, not covered";
    }
}

TEST_F(RemoteWindowManager, AChatNameImportedFromASettingsFileReachesTheServer) {
    ASSERT_TRUE(stripsShown()) << server->log();
    ASSERT_TRUE(activateMainWindow());
    const std::string path = settingsFileNaming(settings.path(), "Stage left");
    const std::vector<SeenDialog> seen = importWithKeys(path, nullptr);
    ASSERT_EQ(seen.size(), 1u) << "the open panel only";
    // The stand-in tells each rename; the other stations then list the new name.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return server->log().find("renamed itself in the chat as \"Stage left\"") !=
                   std::string::npos;
        },
        kPatienceMs))
        << server->log();
}

TEST_F(RemoteWindowManager, TheChatWindowComesBackWhereItWasLeft) {
    ASSERT_TRUE(stripsShown()) << server->log();
    QWidget* chat = openChat();
    ASSERT_NE(chat, nullptr);
    const QRect left = chat->geometry();
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("closed and opened " + std::to_string(round) + " times");
        // As the close button of its title bar does.
        chat->windowHandle()->close();
        ASSERT_TRUE(QTest::qWaitFor([] { return !shownWindow("Chat"); }, kPatienceMs));
        chat = openChat();
        ASSERT_NE(chat, nullptr);
        EXPECT_EQ(chat->geometry(), left);
    }

    // The next start, with a link of its own, opens it again in the same place. The run ends
    // as a quit ends it, with the chat window open.
    composition->mainWindow().viewWillDisappear();
    composition.reset();
    ServerManager::resetSharedInstance();
    ASSERT_TRUE(QTest::qWaitFor([] { return !shownWindow("Chat"); }, kPatienceMs));
    composition = std::make_unique<RemoteComposition>();
    composition->start();
    ASSERT_TRUE(stripsShown());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (chat = shownWindow("Chat")) != nullptr; }, kPatienceMs));
    ASSERT_TRUE(settled(*chat));
    EXPECT_EQ(chat->geometry(), left);
}

TEST_F(RemoteWindowManager, EveryPanelComesBackWhereItWasLeft) {
    ASSERT_TRUE(stripsShown()) << server->log();
    struct Panel {
        const char* name;
        std::function<void()> open;
        std::function<QWidget*()> window;
    };
    const std::vector<Panel> panels = {
        {"mic check", [this] { composition->openMicCheck(); },
         [this] { return composition->micCheck(); }},
        {"timecode", [this] { composition->openTimecode(); },
         [this] { return composition->timecode(); }},
        {"notebook", [this] { composition->openNotebook(); },
         [this] { return composition->notebook(); }},
        {"players", [this] { composition->openPlayerList(); },
         [this] { return composition->playerList(); }},
        {"snapshots",
         [this] {
             if (QWidget* snaps = headerButton("SNAPS")) clickAt(*snaps, snaps->rect().center());
         },
         []() -> QWidget* {
             for (QWidget* window : QApplication::topLevelWidgets()) {
                 if (dynamic_cast<SnapshotSelectorViewController*>(window)) return window;
             }
             return nullptr;
         }},
    };
    for (const Panel& panel : panels) {
        SCOPED_TRACE(panel.name);
        QWidget* window = nullptr;
        auto open = [&] {
            panel.open();
            return QTest::qWaitFor([&] { return (window = panel.window()) && window->isVisible(); },
                                   kPatienceMs) &&
                   settled(*window);
        };
        ASSERT_TRUE(open());
        const QRect left = window->geometry();
        for (int round = 1; round <= 2; ++round) {
            window->windowHandle()->close();
            ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, kPatienceMs));
            ASSERT_TRUE(open());
            EXPECT_EQ(window->geometry(), left);
        }
        window->windowHandle()->close();
    }
}

TEST_F(RemoteWindowManager, TheLargeTimecodeGrowsWithItsDigitsWithinTheScreen) {
    ASSERT_TRUE(stripsShown()) << server->log();
    QAction* item = composition->appDelegate().itemTitled("Timecode…");
    ASSERT_NE(item, nullptr);
    item->trigger();
    BigLTCViewController* timecode = composition->timecode();
    ASSERT_NE(timecode, nullptr);
    ASSERT_TRUE(settled(*timecode));
    const QRect area = timecode->screen()->availableGeometry();
    const int32_t first = timecode->fontSize();
    // Pressed far more often than the digits can grow on this screen.
    for (int press = 1; press <= 20; ++press) {
        SCOPED_TRACE("after " + std::to_string(press) + " presses of Larger");
        QTest::mouseClick(timecode->largerButton(), Qt::LeftButton);
        ASSERT_TRUE(settled(*timecode));
        QLabel* digits = timecode->bigLabel();
        EXPECT_GE(digits->contentsRect().width(),
                  digits->fontMetrics().horizontalAdvance(digits->text()))
            << "every digit shows";
        QCheckBox* onTop = timecode->alwaysOnTop();
        EXPECT_TRUE(onTop->isVisible());
        EXPECT_TRUE(
            timecode->rect().contains(QRect(onTop->mapTo(timecode, QPoint(0, 0)), onTop->size())))
            << "\"Always on top\" within the window";
        EXPECT_TRUE(area.contains(timecode->frameGeometry()))
            << "the window on the screen: " << timecode->frameGeometry().x() << ","
            << timecode->frameGeometry().y() << " " << timecode->frameGeometry().width() << "x"
            << timecode->frameGeometry().height();
        if (HasFailure()) break;
    }
    EXPECT_GT(timecode->fontSize(), first + 30) << "the digits did grow";
}

// Run on a 1920 x 1200 screen at twice the scale: 960 x 600 points.
TEST_F(RemoteWindowManager, AtTwiceTheScaleTheMainWindowLiesOnTheScreen) {
    ASSERT_TRUE(stripsShown()) << server->log();
    MainWindow& main = composition->mainWindow();
    ASSERT_TRUE(settled(main));
    const QRect area = main.screen()->availableGeometry();
    ASSERT_LT(area.width(), ViewController::kMinimumWindowSize.width()) << "a screen this small";
    EXPECT_TRUE(area.contains(main.geometry()))
        << main.geometry().x() << "," << main.geometry().y() << " " << main.geometry().width()
        << "x" << main.geometry().height();
    // The menu's first entry and the status line are whole on the screen.
    QMenuBar* menu = main.menuBar();
    const QRect firstEntry = menu->actionGeometry(menu->actions().front());
    EXPECT_TRUE(area.contains(QRect(menu->mapToGlobal(firstEntry.topLeft()), firstEntry.size())));
    QLabel* status = composition->viewController().rightLabel();
    EXPECT_TRUE(area.contains(QRect(status->mapToGlobal(QPoint(0, 0)), status->size())))
        << status->text().toStdString();
}

}  // namespace
