// The notebook against the real stand-in on loopback: this remote's main window controller
// with the real note sheet and notebook window, and a second remote made of the project's codec
// and a plain socket.

#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/panels/ui/AddNoteViewController.h"
#include "MonitorApp/panels/ui/NotebookTableModel.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/LTCManager.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

constexpr double kWait = 5.0;

class NotebookE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        setenv("TZ", "UTC", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        settings().setChatUsername("alice");
        ServerManager& link = ServerManager::sharedInstance();
        vc->setSegueFactory(
            [this, &link](const std::string& id) -> std::shared_ptr<SegueDestination> {
                if (id != "showAddNote") return nullptr;
                sheet_ = std::make_shared<AddNoteViewController>(sharedPanelServices());
                sheet_->setLinkSender(&link);
                return sheet_;
            });
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();

        notebookWindow_ = std::make_unique<NotebookViewController>(sharedPanelServices());
        notebookWindow_->setLinkSender(&link);
        notebookWindow_->setAlertPresenter(&alerts);
        notebookWindow_->setFilePanel(&files_);
        notebookWindow_->show();
    }
    void TearDown() override {
        notebookWindow_.reset();
        sheet_.reset();
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    bool pumpUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWait); }
    static size_t notes() { return NotebookManager::sharedInstance().notebookEntries().size(); }
    QString cell(int row, const std::string& identifier) const {
        return notebookWindow_->model()->value(row, identifier);
    }
    /// The notes of the next "NotebookEntries" the second remote hears with `count` notes.
    static std::optional<Value> heardNotes(WireClient& bob, size_t count) {
        while (auto list = bob.waitFor("NotebookEntries", test::scaledSeconds(kWait))) {
            if ((*list)["Values"].count() == count) return (*list)["Values"];
        }
        return std::nullopt;
    }
    /// A long click on strip `csID` in notebook mode, then `text` submitted from the sheet.
    void writeNote(int64_t csID, const char* text) {
        NotificationCenter::defaultCenter().post("CSLongClicked", Dictionary{{"index", csID}});
        ASSERT_TRUE(sheet_ && sheet_->isVisible());
        sheet_->field(AddNoteViewController::kNoteFieldTag)->setText(text);
        sheet_->submitButton(AddNoteViewController::kNoteFieldTag)->click();
    }

    SimServerProcess server_;
    std::shared_ptr<AddNoteViewController> sheet_;
    std::unique_ptr<NotebookViewController> notebookWindow_;
    RecordingFilePanel files_;
};

TEST_F(NotebookE2E, NotesFromTheSheetReachBothRemotesAndLeaveThemTogether) {
    WireClient bob(server_.port());
    ASSERT_TRUE(bob.waitFor("InitialDataReady", test::scaledSeconds(kWait)));
    // The stand-in's timecode strip is running before the sheet opens.
    ASSERT_TRUE(pumpUntil([] { return !LTCManager::sharedInstance().receivedTC().empty(); }))
        << server_.log();

    // What the test needs of the strip is read now: a reconnection of the link during a wait
    // below would rebuild every strip from the server's "Channels".
    const ChannelStripController& strip = *manager().controllers().front();
    const int64_t csID = strip.model().csID();
    const std::string title = strip.view()->getTitle();
    const std::string name = strip.model().name().value_or("");
    const int audioInput = strip.model().audioInput();
    ASSERT_FALSE(title.empty());
    settings().setNotebookMode(true);

    NotificationCenter::defaultCenter().post("CSLongClicked", Dictionary{{"index", csID}});
    ASSERT_TRUE(sheet_ && sheet_->isVisible());
    EXPECT_EQ(sheet_->titleField()->text().toStdString(), "NOTE TO BE ADDED FOR " + title);
    const SMPTETimecode opened = sheet_->openingLTC();
    sheet_->field(AddNoteViewController::kNoteFieldTag)->setText("mic 1 crackles");
    sheet_->submitButton(AddNoteViewController::kNoteFieldTag)->click();

    ASSERT_TRUE(pumpUntil([] { return notes() == 1; })) << server_.log();
    EXPECT_EQ(cell(0, "Note"), "mic 1 crackles");
    EXPECT_EQ(cell(0, "Channel").toStdString(), title);
    EXPECT_EQ(cell(0, "Creator"), "alice");
    EXPECT_EQ(cell(0, "LTC"),
              QString::asprintf("%02d:%02d:%02d", opened.hours, opened.mins, opened.secs));
    EXPECT_NE(cell(0, "LTC"), "00:00:00") << "the stand-in's timecode";
    auto heard = heardNotes(bob, 1);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->at(0)["Note"], Value("mic 1 crackles"));
    EXPECT_EQ(heard->at(0)["Creator"], Value("alice"));

    // The CSV of the notebook reads back.
    const std::string path = root_ + "/show.csv";
    files_.answers = {path};
    ASSERT_TRUE(notebookWindow_->exportClicked());
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string expected = "Note,LTC,Time,Creator,Channel,Audio input\r\"mic 1 crackles\"," +
                           cell(0, "LTC").toStdString() + "," + cell(0, "Time").toStdString() +
                           ",\"alice\"," + name + ",\"" + std::to_string(audioInput + 1) + "\"\r";
    EXPECT_EQ(text.str(), expected);

    // A second note, then the first removed: both remotes keep the second alone.
    ASSERT_NO_FATAL_FAILURE(writeNote(csID, "swap battery"));
    ASSERT_TRUE(pumpUntil([] { return notes() == 2; })) << server_.log();
    ASSERT_TRUE(heardNotes(bob, 2));
    notebookWindow_->tableView()->selectionModel()->select(
        notebookWindow_->model()->index(0, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    notebookWindow_->removeSelected();
    ASSERT_TRUE(pumpUntil([this] { return notes() == 1 && cell(0, "Note") == "swap battery"; }))
        << server_.log();
    heard = heardNotes(bob, 1);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->at(0)["Note"], Value("swap battery"));

    notebookWindow_->clearAllClicked();
    ASSERT_TRUE(pumpUntil([] { return notes() == 0; })) << server_.log();
    EXPECT_EQ(notebookWindow_->model()->rowCount(), 0);
    EXPECT_TRUE(heardNotes(bob, 0));
}

// Notes typed in the window are this remote's alone until the user does more with them: a list
// the server sends because another remote added a note keeps them, in their order, after it.
TEST_F(NotebookE2E, NotesTypedInTheWindowOutliveTheListsOtherRemotesCause) {
    WireClient bob(server_.port());
    ASSERT_TRUE(bob.waitFor("InitialDataReady", test::scaledSeconds(kWait)));
    // Read now: a reconnection of the link during a wait below would rebuild every strip.
    const int64_t csID = manager().controllers()[2]->model().csID();
    const std::string title = manager().controllers()[2]->view()->getTitle();
    auto type = [this](const char* text) {
        QLineEdit* field = notebookWindow_->textField();
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    };
    type("spare pack on stage left");
    // The strip click pins the note to its strip.
    NotificationCenter::defaultCenter().post("CSClicked", Dictionary{{"index", csID}});
    type("ask about the wig mic");
    ASSERT_EQ(notebookWindow_->model()->rowCount(), 2);
    ASSERT_EQ(cell(1, "Channel"), NotebookTableModel::kClickChannel);

    ASSERT_TRUE(bob.send(LinkMessageBuilder::remoteAddedNote(
        "from bob", manager().controllers()[0]->model().csID(), "bob", {1, 2, 3, 4}, 1000.0)));
    ASSERT_TRUE(pumpUntil([this] {
        return notebookWindow_->model()->rowCount() >= 1 && cell(0, "Note") == "from bob";
    })) << server_.log();
    ASSERT_EQ(notebookWindow_->model()->rowCount(), 3);
    EXPECT_EQ(cell(1, "Note"), "spare pack on stage left");
    EXPECT_EQ(cell(1, "Channel").toStdString(), title);
    EXPECT_EQ(cell(1, "Creator"), "alice");
    EXPECT_EQ(cell(2, "Note"), "ask about the wig mic");
    EXPECT_EQ(cell(2, "Channel"), NotebookTableModel::kClickChannel);

    // The unpinned note still takes the next strip clicked.
    NotificationCenter::defaultCenter().post("CSClicked", Dictionary{{"index", csID}});
    EXPECT_EQ(cell(2, "Channel").toStdString(), title);
}

}  // namespace
}  // namespace quenbril::test
