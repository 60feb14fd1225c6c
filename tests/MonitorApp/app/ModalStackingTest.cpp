// Every modal sheet, dialog and panel of the application stacks above every other window of the
// application, the chat window kept on top included, as the window manager stacks them: the
// note sheet of a long click in notebook mode (and Escape or its Cancel closes it), also when
// the main window it blocks is brought forward, an alert of a window below the chat window, the
// colour dialog of the preferences, and the connection dialog at a start that reopens a window
// kept on top.

#include <QAction>
#include <QColorDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <functional>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/panels/ui/AddNoteViewController.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/preferences/ColorWell.h"
#include "MonitorApp/preferences/DisplayPreferencesViewController.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "tests/MonitorApp/app/ManagedWindowsTest.h"
#include "tests/support/QtTestTime.h"

namespace quenbril::test {
namespace {

class ModalStacking : public ManagedWindowsTest {
  protected:
    /// What a modal window looked like while it was shown.
    struct Seen {
        bool shown = false;
        QString text;
        std::string above;  // the windows stacked above it
        double shareShown = 0;
    };

    /// Runs `ask`, which opens a modal dialog with a loop of its own; looks at the dialog once
    /// the window manager has placed it, then closes it with Escape.
    Seen whileModal(const std::function<void()>& ask) {
        Seen seen;
        bool busy = false;
        QTimer watch;
        watch.setInterval(50);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (busy || seen.shown || !dialog || !dialog->isVisible() || !managed(*dialog)) return;
            busy = true;
            (void)settled(*dialog);
            seen.shown = true;
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) seen.text = box->text();
            seen.above = windowsAbove(*dialog);
            seen.shareShown = shareShown(*dialog);
            QTest::keyClick(dialog, Qt::Key_Escape);
            busy = false;
        });
        watch.start();
        ask();
        watch.stop();
        return seen;
    }

    /// Holds the press on the strip until the note sheet is shown, as a long click does.
    AddNoteViewController* longClickForANote(size_t index) const {
        QWidget* strip = stripWidget(index);
        if (!strip) return nullptr;
        QWindow* window = strip->window()->windowHandle();
        const QPoint at = strip->mapTo(strip->window(), strip->rect().center());
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
        AddNoteViewController* sheet = nullptr;
        (void)QTest::qWaitFor(
            [&] { return (sheet = composition->addNoteSheet()) && sheet->isVisible(); },
            kPatienceMs);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
        return sheet && sheet->isVisible() ? sheet : nullptr;
    }

    void trigger(const char* title) const {
        QAction* item = composition->appDelegate().itemTitled(title);
        ASSERT_NE(item, nullptr) << title;
        item->trigger();
    }
};

TEST_F(ModalStacking, TheNoteSheetShowsAboveTheChatWindowAndEscapeOrCancelClosesIt) {
    ASSERT_TRUE(stripsShown()) << server->log();
    QWidget* chat = openChatOverTheMainWindow();
    ASSERT_NE(chat, nullptr);
    trigger("Notebook Mode");
    for (const char* closing : {"Escape", "Cancel"}) {
        SCOPED_TRACE(std::string("closed with ") + closing);
        AddNoteViewController* sheet = longClickForANote(2);
        ASSERT_NE(sheet, nullptr) << "no note sheet";
        ASSERT_TRUE(settled(*sheet));
        EXPECT_EQ(windowsAbove(*sheet), "") << "stacked above every other window";
        EXPECT_TRUE(WindowManager::above(sheet->winId(), chat->winId()));
        EXPECT_GT(shareShown(*sheet), 0.9) << "drawn whole on the screen, not covered";
        // The keys go to the sheet: it is the active window, its note field has the focus.
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return QApplication::activeWindow() == sheet; }, kPatienceMs));
        if (std::string(closing) == "Escape") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else {
            clickAt(*sheet->cancelButton(), sheet->cancelButton()->rect().center());
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); }, kPatienceMs));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !QApplication::activeModalWidget(); }, kPatienceMs))
            << "the main window takes input again";
    }
}

// With no window kept on top, the sheet is a window of the normal level: the main window it
// blocks, brought forward as a click on it does, does not cover it.
TEST_F(ModalStacking, TheMainWindowBroughtForwardDoesNotCoverItsNoteSheet) {
    ASSERT_TRUE(stripsShown()) << server->log();
    trigger("Notebook Mode");
    AddNoteViewController* sheet = longClickForANote(2);
    ASSERT_NE(sheet, nullptr) << "no note sheet";
    ASSERT_TRUE(settled(*sheet));
    ASSERT_EQ(windowsAbove(*sheet), "");
    composition->mainWindow().activateWindow();
    composition->mainWindow().raise();
    // The main window is active for a moment at least, once the window manager has had the
    // request (its stacking is looked at only then).
    (void)test::qWaitFor([&] { return QApplication::activeWindow() == &composition->mainWindow(); },
                         2000);
    EXPECT_EQ(windowsAbove(*sheet), "") << "stacked above every other window";
    EXPECT_GT(shareShown(*sheet), 0.9) << "drawn whole on the screen, not covered";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); }, kPatienceMs));
}

TEST_F(ModalStacking, AnAlertOfAWindowBelowTheChatWindowShowsAboveIt) {
    ASSERT_TRUE(stripsShown()) << server->log();
    trigger("Players…");
    PlayerListViewController* list = composition->playerList();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(settled(*list));
    QWidget* chat = openChat();
    ASSERT_NE(chat, nullptr);
    // The chat window over the list, where the list's alert opens.
    QRect over = chat->geometry();
    over.moveCenter(list->geometry().center());
    chat->setGeometry(over);
    ASSERT_TRUE(QTest::qWaitFor([&] { return chat->geometry() == over; }, kPatienceMs));
    // Edit with no player chosen.
    const Seen seen =
        whileModal([&] { clickAt(*list->editButton(), list->editButton()->rect().center()); });
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.text, "Please select a player first.");
    EXPECT_EQ(seen.above, "") << "stacked above every other window";
    EXPECT_GT(seen.shareShown, 0.9) << "drawn whole on the screen, not covered";
}

TEST_F(ModalStacking, TheColourDialogOfThePreferencesShowsAboveTheChatWindow) {
    ASSERT_TRUE(stripsShown()) << server->log();
    QWidget* chat = openChatOverTheMainWindow();
    ASSERT_NE(chat, nullptr);
    trigger("Preferences…");
    SettingsTabViewController* preferences = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (preferences = shown<SettingsTabViewController>()) != nullptr; },
        kPatienceMs));
    ASSERT_TRUE(settled(*preferences));
    DisplayPreferencesViewController* display = preferences->displayPrefs();
    preferences->tabView()->setCurrentWidget(display);
    ColorWell* well = display->audioColor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return well->isVisible(); }, kPatienceMs));
    const Seen seen = whileModal([&] { clickAt(*well, well->rect().center()); });
    ASSERT_TRUE(seen.shown) << "no colour dialog";
    EXPECT_EQ(seen.above, "") << "stacked above every other window";
    EXPECT_GT(seen.shareShown, 0.9) << "drawn whole on the screen, not covered";
}

// A run ends with a performer window open (it is kept on top); the next start, with "continue
// automatically" off, opens it again as the server's state comes in while the connection dialog
// waits.
TEST_F(ModalStacking, TheConnectionDialogStaysAboveThePerformerWindowAStartReopens) {
    ASSERT_TRUE(stripsShown()) << server->log();
    composition->viewController().performSegue("editPlayer");
    PlayerViewController* performer = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (performer = shown<PlayerViewController>()) != nullptr; }, kPatienceMs));
    // The run ends as a quit ends it.
    composition->mainWindow().viewWillDisappear();
    composition.reset();
    ServerManager::resetSharedInstance();
    ASSERT_TRUE(QTest::qWaitFor([] { return !shown<PlayerViewController>(); }, kPatienceMs));
    UserDefaults::standardUserDefaults().setInteger(0, "continueAutomatically");
    ASSERT_TRUE(UserDefaults::standardUserDefaults().synchronize());

    composition = std::make_unique<RemoteComposition>();
    composition->start();
    PreferencesViewController* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            dialog = shown<PreferencesViewController>();
            performer = shown<PlayerViewController>();
            return dialog && performer;
        },
        kPatienceMs))
        << "dialog " << dialog << ", performer " << performer;
    ASSERT_TRUE(settled(*performer));
    ASSERT_TRUE(settled(*dialog));
    // The performer window over the dialog's place, as a user may have left it.
    QRect over = performer->geometry();
    over.moveCenter(dialog->geometry().center());
    performer->setGeometry(over);
    ASSERT_TRUE(QTest::qWaitFor([&] { return performer->geometry() == over; }, kPatienceMs));
    EXPECT_EQ(windowsAbove(*dialog), "") << "stacked above every other window";
    EXPECT_GT(shareShown(*dialog), 0.9) << "drawn whole on the screen, not covered";

    // Confirmed with its button, where the user clicks it.
    QPushButton* confirm = dialog->confirmButton();
    clickAt(*confirm, confirm->rect().center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown<PreferencesViewController>(); }, kPatienceMs));
    EXPECT_TRUE(stripsShown());
}

}  // namespace
}  // namespace quenbril::test
