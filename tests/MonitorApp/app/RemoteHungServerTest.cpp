// The real application on an X display against a stand-in that hangs (stopped with SIGSTOP, not
// gone): the kernel still takes the remote's new connections for it, but no state comes. Until
// the server is back with its state, the status line says the remote is not connected, what the
// user does in the windows sends nothing, now or when the server wakes, and changes nothing the
// user sees; the typed chat text stays in its field.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <string>

#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "tests/support/InProcessRemote.h"
#include "tests/support/QtTestTime.h"
#include "tests/support/ScreenPicture.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

// The state of the strip listened to, as the server sets it.
constexpr uint64_t kActive = 1;
constexpr const char* kNotConnected = "NOT CONNECTED TO SERVER";

class RemoteHungServer : public InProcessRemoteTest {
  protected:
    ViewController& vc() const { return composition->viewController(); }
    bool coverShown() const {
        auto* cover = vc().findChild<QWidget*>("notLiveCover");
        return cover && cover->isVisible();
    }
    std::string statusLine() const { return vc().rightLabel()->text().toStdString(); }
    /// The red of the RESET button's alarm face, in the button's own drawing.
    int resetRed() const {
        auto* button = vc().findChild<QWidget*>("ResetButton");
        if (!button) return -1;
        const QImage face = button->grab().toImage();
        return countRed(face, face.rect());
    }
    /// The quick-message button that sends the last clicked channel (key "F8").
    static ChatButton* clickedChannelButton(ChatButtonViewController& buttons) {
        for (ChatButton* button : buttons.chatButtons()) {
            if (button->functionButton()->text() == "F8") return button;
        }
        return nullptr;
    }
    static bool activate(QWidget& window) {
        window.activateWindow();
        return test::qWaitForWindowActive(&window);
    }
    /// The stand-in's log since `from`.
    std::string logSince(size_t from) const {
        const std::string log = server->log();
        return from < log.size() ? log.substr(from) : std::string();
    }
};

TEST_F(RemoteHungServer, NothingIsSentOrShownAsDoneUntilTheServerIsBackWithItsState) {
    ASSERT_TRUE(liveStripShown(7)) << "no live strips came";
    ASSERT_FALSE(coverShown());
    QWidget& main = composition->mainWindow();
    QWindow* mainWindow = main.windowHandle();

    vc().showHideChat();
    auto table = std::dynamic_pointer_cast<ChatTableViewController>(vc().chatVC());
    auto buttons = std::dynamic_pointer_cast<ChatButtonViewController>(vc().chatButtonVC());
    ASSERT_TRUE(table && buttons);
    QWidget& chat = *table->window();
    ChatButton* f8 = clickedChannelButton(*buttons);
    ASSERT_NE(f8, nullptr);

    // A strip clicked while the server is here: it becomes the active one, its position is
    // where the arrow keys start, and its channel is the F8 button's text.
    ASSERT_TRUE(activate(main));
    clickAt(*stripWidget(2), QPoint(64, 64));
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            const auto& controllers = ChannelStripManager::channelStripControllers();
            return controllers[2]->state().channelState() == kActive;
        },
        kPatienceMs))
        << server->log();
    const std::string f8Text = f8->text();

    // The server hangs: its silence drops the link after the read's time-out, and the cover
    // shows.
    server->pause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return coverShown(); }, kPatienceMs));
    const size_t logAtHang = server->log().size();
    // The next connection, which the kernel takes for the hung server, is held open long
    // enough for everything below (the read's time-out would drop it after 5 s).
    ServerManager::sharedInstance().setReadTimeout(kPatienceMs / 1000.0);
    ASSERT_TRUE(
        QTest::qWaitFor([] { return ServerManager::sharedInstance().connected(); }, kPatienceMs))
        << "no new connection";
    vc().setResetAlarm(true);
    const int redBefore = resetRed();
    ASSERT_GT(redBefore, 50) << "the alarm's face is red";

    {
        SCOPED_TRACE("connected to a server that is not here");
        EXPECT_TRUE(coverShown());
        EXPECT_EQ(statusLine(), kNotConnected);
    }

    // What the user does meanwhile: an arrow key, a click on a strip, Ctrl+K, Ctrl+R, Ctrl+P in
    // the main window; a typed line and F1 in the chat window.
    ASSERT_TRUE(activate(main));
    QTest::keyClick(mainWindow, Qt::Key_Right);
    EXPECT_EQ(f8->text(), f8Text) << "the arrow key moved the solo to the next strip";
    clickAt(*stripWidget(5), QPoint(64, 64));
    EXPECT_EQ(f8->text(), f8Text) << "the click made its strip the clicked channel";
    QTest::keyClick(mainWindow, Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(mainWindow, Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(mainWindow, Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(activate(chat));
    table->textField()->setFocus();
    QTest::keyClicks(table->textField(), "hold the curtain");
    QTest::keyClick(table->textField(), Qt::Key_Return);
    QTest::keyClick(chat.focusWidget(), Qt::Key_F1);
    ASSERT_TRUE(ServerManager::sharedInstance().connected()) << "the connection held";

    {
        SCOPED_TRACE("nothing the user sees changed");
        EXPECT_EQ(statusLine(), kNotConnected);
        EXPECT_TRUE(vc().resetAlarm());
        EXPECT_EQ(resetRed(), redBefore) << "RESET lost its alarm";
        EXPECT_EQ(table->textField()->text(), "hold the curtain");
        EXPECT_TRUE(table->sendStatus()->isVisible());
    }

    // The server wakes: once its state is in, it is here again; what was done while it hung
    // never reaches it.
    server->resume();
    ASSERT_TRUE(QTest::qWaitFor([&] { return vc().serverIsHere() && !coverShown(); }, kPatienceMs))
        << server->log();
    EXPECT_EQ(statusLine().rfind("Connected to server", 0), 0u) << statusLine();
    QTest::qWait(scaledMs(1000));  // what would reach the server has, by then
    const std::string log = logSince(logAtHang);
    EXPECT_EQ(log.find("clicked strip"), std::string::npos) << log;
    EXPECT_EQ(log.find("Active strips"), std::string::npos) << log;
    EXPECT_EQ(log.find("Soloed strips"), std::string::npos) << log;
    EXPECT_EQ(log.find("chat message"), std::string::npos) << log;
    EXPECT_EQ(table->textField()->text(), "hold the curtain") << "the text waits to be sent";
}

}  // namespace
