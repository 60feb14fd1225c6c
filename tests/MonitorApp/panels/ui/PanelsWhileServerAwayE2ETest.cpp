// The mic-check window, the note sheet and the notebook while the stand-in is away: this
// remote's main window controller with the real windows and the real link. The stand-in is held
// (SIGSTOP) and the link dropped, so the remote is down, connected again to a server that sends
// nothing; once the stand-in goes on, its state comes and the remote is back. What the user does
// meanwhile changes nothing here, says it was not sent, and keeps what was typed.

#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <functional>

#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/LinkLifeCycle.h"
#include "MonitorApp/panels/ui/AddNoteViewController.h"
#include "MonitorApp/panels/ui/MicCheckTableModel.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/panels/ui/NotebookTableModel.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/simserver/SimServerProcess.h"

namespace quenbril::test {
namespace {

constexpr double kWait = 10.0;
constexpr const char* kNotSent = "Not sent: not connected to the server.";

/// Records alerts and runs `onQuestion` when one asks the user (it has more than one button):
/// what happens while a confirmation is open.
class QuestionAlerts : public RecordingAlerts {
  public:
    using RecordingAlerts::runModal;
    int runModal(QWidget* window, const Alert& alert) override {
        if (alert.buttons.size() > 1 && onQuestion) std::exchange(onQuestion, nullptr)();
        return RecordingAlerts::runModal(window, alert);
    }
    std::function<void()> onQuestion;
};

class PanelsWhileServerAwayE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        settings().setChatUsername("alice");
        vc->setSegueFactory(
            [this, &link = link()](const std::string& id) -> std::shared_ptr<SegueDestination> {
                if (id != "showAddNote") return nullptr;
                sheet_ = std::make_shared<AddNoteViewController>(sharedPanelServices());
                sheet_->setLinkSender(&link);
                return sheet_;
            });
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
    }
    void TearDown() override {
        // A held stand-in takes its end signal once it goes on.
        server_.resume();
        sheet_.reset();
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    static ServerManager& link() { return ServerManager::sharedInstance(); }
    bool pumpUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWait); }

    /// The stand-in hangs and the link drops: the remote is down (connected again, perhaps,
    /// to a server that says nothing).
    ::testing::AssertionResult serverAway() {
        server_.pause();
        link().disconnect();
        if (pumpUntil([] { return !link().serverIsHere(); })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the remote still takes the server as here";
    }
    /// The stand-in goes on: the remote connects again if it must and has the server's state.
    ::testing::AssertionResult serverBack() {
        server_.resume();
        for (int attempt = 0; attempt < 12; ++attempt) {
            if (loop_->runUntil([] { return link().serverIsHere(); }, 1.0)) {
                return ::testing::AssertionSuccess();
            }
            // The connection timer's next attempt, on the window's clock.
            loop_->advance(LinkLifeCycle::kConnectionInterval);
        }
        return ::testing::AssertionFailure() << "the server did not come back: " << server_.log();
    }

    SimServerProcess server_;
    std::shared_ptr<AddNoteViewController> sheet_;
};

TEST_F(PanelsWhileServerAwayE2E, ACheckWhileTheServerIsAwayTicksNothingAndSaysItWasNotSent) {
    MicCheckViewController window(sharedPanelServices());
    window.setLinkSender(&link());
    window.show();
    ASSERT_GT(window.tableView()->model()->rowCount(), 0);
    // Fetched anew each time: the server's "Channels" after a reconnection makes new strips.
    auto check = [this]() -> const MicCheckState& {
        return manager().controllers()[0]->state().micCheckState();
    };
    ASSERT_FALSE(check().checked());
    const MicCheckState before = check();
    const QAbstractItemModel* table = window.tableView()->model();
    const QModelIndex tick = table->index(0, MicCheckTableModel::kChecked);
    const QVariant tickBefore = table->data(tick, Qt::CheckStateRole);
    EXPECT_FALSE(window.sendStatus()->isVisible());

    ASSERT_TRUE(serverAway());
    window.tableView()->selectRow(0);
    window.checkButton()->click();
    {
        SCOPED_TRACE("refused while the server is away");
        EXPECT_FALSE(check().checked()) << "ticked here though the server never heard it";
        EXPECT_EQ(check().user(), before.user());
        EXPECT_EQ(check().time(), before.time());
        EXPECT_EQ(table->data(tick, Qt::CheckStateRole), tickBefore);
        EXPECT_TRUE(window.sendStatus()->isVisible());
        EXPECT_EQ(window.sendStatus()->text().toStdString(), kNotSent);
    }

    // Back: the server's records come (and say the strip is not checked), the window's
    // warning goes, and a tick now reaches the server and comes back from it.
    ASSERT_TRUE(serverBack());
    ASSERT_TRUE(pumpUntil([&] { return !window.sendStatus()->isVisible(); }));
    EXPECT_FALSE(check().checked());
    NotificationRecorder applied("ChannelStripChecked");
    window.tableView()->selectRow(0);
    window.checkButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !applied.posted.empty() && check().checked(); }))
        << server_.log();
    EXPECT_EQ(check().user(), "alice");
    EXPECT_FALSE(window.sendStatus()->isVisible());
}

TEST_F(PanelsWhileServerAwayE2E, ANoteAddedWhileTheServerIsAwayStaysInTheSheetUntilItCanBeSent) {
    const int64_t csID = manager().controllers().front()->model().csID();
    settings().setNotebookMode(true);
    NotificationCenter::defaultCenter().post("CSLongClicked", Dictionary{{"index", csID}});
    ASSERT_TRUE(sheet_ && sheet_->isVisible());
    QLineEdit* note = sheet_->field(AddNoteViewController::kNoteFieldTag);
    QPushButton* add = sheet_->submitButton(AddNoteViewController::kNoteFieldTag);

    ASSERT_TRUE(serverAway());
    note->setText("radio 4 swaps at the interval");
    add->click();
    {
        SCOPED_TRACE("refused while the server is away");
        EXPECT_TRUE(sheet_->isVisible()) << "the sheet closed and took the note with it";
        EXPECT_EQ(note->text(), "radio 4 swaps at the interval");
        EXPECT_TRUE(sheet_->sendStatus()->isVisible());
        EXPECT_EQ(sheet_->sendStatus()->text().toStdString(), kNotSent);
    }
    // A macro's Add is kept back the same way.
    sheet_->submitButton(0)->click();
    EXPECT_TRUE(sheet_->isVisible());

    ASSERT_TRUE(serverBack());
    // The server's notes came with its state: the warning goes, and Add sends the note.
    ASSERT_TRUE(pumpUntil([&] { return !sheet_->sendStatus()->isVisible(); }));
    EXPECT_TRUE(NotebookManager::sharedInstance().notebookEntries().empty());
    add->click();
    EXPECT_FALSE(sheet_->isVisible());
    ASSERT_TRUE(pumpUntil([] {
        const auto& notes = NotebookManager::sharedInstance().notebookEntries();
        return notes.size() == 1 && notes[0]->note() == "radio 4 swaps at the interval";
    })) << server_.log();
}

TEST_F(PanelsWhileServerAwayE2E, RemovingNotesWhileTheServerIsAwaySaysSoAndRemovesNothing) {
    QuestionAlerts alerts;
    NotebookViewController notebook(sharedPanelServices());
    notebook.setLinkSender(&link());
    notebook.setAlertPresenter(&alerts);
    notebook.show();
    link().sendDictionary(LinkMessageBuilder::remoteAddedNote(
        "check spare packs", manager().controllers().front()->model().csID(), "alice", {0, 0, 0, 0},
        loop_->now()));
    auto notes = [] { return NotebookManager::sharedInstance().notebookEntries().size(); };
    ASSERT_TRUE(pumpUntil([&] { return notes() == 1; })) << server_.log();
    auto selectFirst = [&] {
        notebook.tableView()->selectionModel()->select(
            notebook.model()->index(0, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };

    ASSERT_TRUE(serverAway());
    selectFirst();
    notebook.removeButton()->click();
    notebook.clearAllButton()->click();
    {
        SCOPED_TRACE("refused before the question is asked");
        ASSERT_EQ(alerts.alerts.size(), 2u) << "a question was asked, or nothing said";
        for (const Alert& alert : alerts.alerts) {
            EXPECT_EQ(alert.messageText, kNotSent);
            EXPECT_EQ(alert.buttons.size(), 0u);
        }
        EXPECT_EQ(alerts.alerts[0].informativeText, "Nothing was removed.");
        EXPECT_EQ(alerts.alerts[1].informativeText, "Nothing was cleared.");
        EXPECT_EQ(notes(), 1u);
    }

    // The server still has the note once it is back.
    ASSERT_TRUE(serverBack());
    ASSERT_TRUE(pumpUntil([&] { return notes() == 1; }));
    loop_->runFor(0.3);
    EXPECT_EQ(notes(), 1u) << server_.log();

    // The server goes while the question is open: "Yes" is told it was not sent.
    alerts.alerts.clear();
    alerts.onQuestion = [&] { ASSERT_TRUE(serverAway()); };
    selectFirst();
    notebook.removeButton()->click();
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[0].buttons, (std::vector<std::string>{"Yes", "Cancel"}));
    EXPECT_EQ(alerts.alerts[1].messageText, kNotSent);
    EXPECT_EQ(notes(), 1u);

    // Here again, the removal goes through.
    ASSERT_TRUE(serverBack());
    alerts.alerts.clear();
    selectFirst();
    notebook.removeButton()->click();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    ASSERT_TRUE(pumpUntil([&] { return notes() == 0; })) << server_.log();
}

}  // namespace
}  // namespace quenbril::test
