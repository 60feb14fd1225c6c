// The notebook window: the channel column, local notes pinned by a strip click, deletes asked of
// the server, and the CSV export checked against golden files.

#include <gtest/gtest.h>

#include <QFont>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/panels/ui/NotebookTableModel.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/panels/ui/NotebookTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/support/FileText.h"
#include "tests/support/KilledSave.h"

namespace quenbril {
namespace {

using test::fileText;

/// Answers every alert with `answer`, after running `during` (the world moving on while the
/// alert is open).
class ScriptedAlerts : public RecordingAlerts {
  public:
    using RecordingAlerts::runModal;
    int runModal(QWidget* window, const Alert& alert) override {
        if (during) during();
        return RecordingAlerts::runModal(window, alert);
    }
    std::function<void()> during;
};

class NotebookWindowTest : public NotebookTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(NotebookTest::SetUp());
        window = std::make_unique<NotebookViewController>(sharedPanelServices());
        window->setLinkSender(&sender);
        window->setAlertPresenter(&alerts);
        window->setFilePanel(&files);
        window->show();
        sender.sent.clear();
    }
    void TearDown() override {
        window.reset();
        NotebookTest::TearDown();
    }

    QString cell(int row, const std::string& identifier) const {
        return window->model()->value(row, identifier);
    }
    void select(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = window->tableView()->selectionModel();
        selection->clearSelection();
        for (int row : rows) {
            selection->select(window->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    void clickStrip(int64_t csID) {
        NotificationCenter::defaultCenter().post(kCSClickedNotification,
                                                 Dictionary{{"index", csID}, {"sender", "strip"}});
    }
    void addCustom(const char* text) {
        window->textField()->setText(text);
        window->addCustomClicked();
    }
    std::string path(const char* name) const {
        return (std::filesystem::path(root_) / name).string();
    }
    static std::string golden(const char* name) {
        return fileText(std::string(QUENBRIL_GOLDEN_DIR) + "/" + name);
    }

    std::unique_ptr<NotebookViewController> window;
    ScriptedAlerts alerts;
    RecordingFilePanel files;
};

TEST_F(NotebookWindowTest, FloatsAboveAndKeepsItsFrame) {
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    window->close();
    EXPECT_TRUE(UserDefaults::standardUserDefaults()
                    .stringForKey(NotebookViewController::kFrameName)
                    .has_value());
}

TEST_F(NotebookWindowTest, ColumnsShowTheNoteTheStripAndItsInput) {
    buildStrips(2);
    viewOf(2).title = "Lead vocal";
    notebook().notebookEntries() = {note(1, 2, "late cue"), note(2, 99, "gone strip")};
    notebook().refreshFromArray(notebook().array());  // "NoteAdded" reloads the table
    ASSERT_EQ(window->model()->rowCount(), 2);
    EXPECT_EQ(cell(0, "Note"), "late cue");
    EXPECT_EQ(cell(0, "LTC"), "01:02:03");
    EXPECT_EQ(cell(0, "Time"), "1:01:02 PM");
    EXPECT_EQ(cell(0, "Creator"), "bob");
    EXPECT_EQ(cell(0, "Channel"), "Lead vocal");
    EXPECT_EQ(cell(0, "AudioInput"), "3");
    EXPECT_EQ(cell(1, "Channel"), "<Not available>");
    EXPECT_EQ(cell(1, "AudioInput"), "<Not available>");
    EXPECT_EQ(cell(2, "Note"), "");
    EXPECT_EQ(cell(0, "Other"), "");
}

TEST_F(NotebookWindowTest, ServerNotesWithDatesThatAreNotFiniteOrInRangeShowNoTime) {
    Array entries;
    for (double bad : {std::nan(""), HUGE_VAL, -1e300}) {
        entries.emplace_back(Dictionary{{"Note", "cue"}, {"Time", Value::date(bad)}, {"teID", 1}});
    }
    notebook().refreshFromArray(entries);
    ASSERT_EQ(window->model()->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_FALSE(notebook().notebookEntries()[static_cast<size_t>(row)]->time()) << row;
        EXPECT_EQ(cell(row, "Time"), "") << row;
        EXPECT_EQ(cell(row, "Note"), "cue") << row;
    }
}

TEST_F(NotebookWindowTest, OnlyTheLastLocalNoteAsksForAStripAndTakesTheNextClick) {
    buildStrips(3);
    timecodeStrip(3, {10, 20, 30, 5});
    viewOf(2).title = "Keys";
    addCustom("first");
    addCustom("second");
    ASSERT_EQ(window->model()->rowCount(), 2);
    EXPECT_EQ(cell(0, "Channel"), "<Not available>");
    EXPECT_EQ(cell(1, "Channel"), "<Click channel>");
    const QModelIndex last = window->model()->index(1, NotebookTableModel::column("Channel"));
    const QFont font = window->model()->data(last, Qt::FontRole).value<QFont>();
    EXPECT_TRUE(font.italic());
    EXPECT_EQ(cell(1, "LTC"), "10:20:30");
    EXPECT_EQ(cell(1, "Creator"), "alice");
    EXPECT_TRUE(sender.sent.empty()) << "a local note stays local";

    clickStrip(2);
    EXPECT_EQ(cell(1, "Channel"), "Keys");
    EXPECT_EQ(notebook().notebookEntries()[0]->csID(), 0);
    clickStrip(1);  // the last note has its strip: nothing changes
    EXPECT_EQ(notebook().notebookEntries()[1]->csID(), 2);

    // Closed and shown again, the window still pins the next local note.
    window->close();
    window->show();
    addCustom("third");
    clickStrip(2);
    EXPECT_EQ(notebook().notebookEntries()[2]->csID(), 2);
}

TEST_F(NotebookWindowTest, EditedStripsShowTheirNewTitles) {
    buildStrips(2);
    notebook().notebookEntries() = {note(1, 2, "a")};
    window->reloadData();
    EXPECT_EQ(cell(0, "AudioInput"), "3");
    // The strips come again in another order, strip 2 now on input 9.
    Dictionary moved = strip(2);
    moved.set("audioInput", 8);
    manager().initFromProperyArray(Array{Value(moved), Value(strip(1))});
    NotificationCenter::defaultCenter().post("ChannelStripsEdited");
    EXPECT_EQ(cell(0, "AudioInput"), "9");
}

TEST_F(NotebookWindowTest, ALocalNoteWithoutATimecodeStripHasZeroTimecode) {
    buildStrips(1);
    addCustom("no clock");
    EXPECT_EQ(cell(0, "LTC"), "00:00:00");
}

TEST_F(NotebookWindowTest, RemovingAsksOnceAndSendsEachSelectedNoteInRowOrder) {
    notebook().notebookEntries() = {note(7, 1, "a"), note(3, 1, "b"), note(9, 1, "c"),
                                    note(4, 1, "d")};
    window->reloadData();
    select({3, 0, 2});
    alerts.answer = 1;  // "Cancel"
    window->removeSelected();
    EXPECT_TRUE(sender.sent.empty());

    alerts.answer = 0;  // "Yes"
    window->removeSelected();
    ASSERT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(alerts.alerts[1].messageText, "Are you sure you want to delete a notebook entry?");
    EXPECT_EQ(alerts.alerts[1].buttons, (std::vector<std::string>{"Yes", "Cancel"}));
    ASSERT_EQ(sender.sent.size(), 3u);
    const int expected[] = {7, 9, 4};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sender.sent[i],
                  (Dictionary{{"Command", "RemoveTimelineEntry"}, {"teID", expected[i]}}));
    }
    EXPECT_EQ(window->model()->rowCount(), 4) << "the server's next list removes them";
}

TEST_F(NotebookWindowTest, ASelectedLocalNoteIsDroppedHereAndNotSent) {
    notebook().notebookEntries() = {note(0, 1, "server note 0?"), note(5, 1, "server")};
    window->reloadData();
    addCustom("local");
    select({2, 1});
    // The first row has teID 0 as well but is not selected: it must survive.
    window->removeSelected();
    EXPECT_EQ(sender.commands(), (std::vector<std::string>{"RemoveTimelineEntry"}));
    EXPECT_EQ(sender.sent[0]["teID"].intValue(), 5);
    ASSERT_EQ(window->model()->rowCount(), 2);
    EXPECT_EQ(cell(0, "Note"), "server note 0?");
    EXPECT_EQ(cell(1, "Note"), "server");
}

TEST_F(NotebookWindowTest, RemovingActsOnTheNotesSelectedBeforeTheAlert) {
    notebook().notebookEntries() = {note(1, 1, "a"), note(2, 1, "b"), note(3, 1, "c")};
    window->reloadData();
    select({1});
    // While the alert is open the server's list arrives without note 1 and with note 2 first.
    alerts.during = [] {
        notebook().refreshFromArray(
            Array{Value(note(2, 1, "b")->property()), Value(note(3, 1, "c")->property())});
    };
    window->removeSelected();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0]["teID"].intValue(), 2) << "the note chosen, not the new row 1";

    select({0});
    alerts.during = [] { notebook().refreshFromArray(Array{}); };
    sender.sent.clear();
    window->removeSelected();
    EXPECT_TRUE(sender.sent.empty()) << "a note gone while the alert was open is not asked for";
}

TEST_F(NotebookWindowTest, ClearAllAsksWithAWarningAndChangesNothingHere) {
    notebook().notebookEntries() = {note(1, 1, "a")};
    alerts.answer = 1;
    window->clearAllClicked();
    EXPECT_TRUE(sender.sent.empty());
    alerts.answer = 0;
    window->clearAllClicked();
    EXPECT_EQ(alerts.alerts.back().style, Alert::Style::Warning);
    EXPECT_EQ(alerts.alerts.back().buttons, (std::vector<std::string>{"Clear all", "Cancel"}));
    EXPECT_EQ(sender.sent, (std::vector<Dictionary>{{{"Command", "RemoveAllTimelineEntries"}}}));
    EXPECT_EQ(notebook().notebookEntries().size(), 1u);
}

TEST_F(NotebookWindowTest, AnEmptyNotebookExportsTheHeaderAlone) {
    files.answers = {path("empty.csv")};
    EXPECT_TRUE(window->exportClicked());
    ASSERT_EQ(files.requests.size(), 1u);
    ASSERT_NE(files.windows[0], nullptr);
    EXPECT_EQ(files.windows[0]->window(), window.get()) << "the panel belongs to the notebook";
    EXPECT_EQ(files.requests[0].kind, FilePanel::Request::Kind::Save);
    EXPECT_EQ(files.requests[0].allowedTypes, (std::vector<std::string>{"csv"}));
    EXPECT_EQ(fileText(path("empty.csv")), golden("empty.csv"));
}

TEST_F(NotebookWindowTest, ExportQuotesOnlyWhatWouldShiftTheColumns) {
    Array channels{Value(strip(1, "A", "Lead vocal")), Value(strip(2, "A", "Keys, left"))};
    manager().initFromProperyArray(channels);
    notebook().notebookEntries() = {
        note(1, 1, "plain note", "bob", {1, 2, 3, 4}, 3600.0 * 13 + 62),
        note(2, 1, "say \"go\"", "the \"boss\"", {0, 0, 59, 0}, 60),
        note(3, 2, "keys, loud", "carol", {23, 59, 59, 24}, 86399),
        note(4, 77, "lost strip", "dave", {0, 0, 0, 0}, 0),
    };
    auto missing = std::make_shared<TimelineEntry>();  // a note the server sent without keys
    missing->setTeID(5);
    notebook().notebookEntries().push_back(missing);
    files.answers = {path("notes.csv")};
    EXPECT_TRUE(window->exportClicked());
    EXPECT_EQ(fileText(path("notes.csv")), golden("notes.csv"));
    EXPECT_TRUE(alerts.alerts.empty());
}

TEST_F(NotebookWindowTest, ExportWritesCellsASpreadsheetWouldRunAsText) {
    // Notes come from any operator and channel names from the server: a cell that begins like
    // a formula is written as text, quoted or not, and the quoting rule still holds.
    Array channels{Value(strip(1, "A", "+cmd|' /C calc'!A0")), Value(strip(2, "A", "-2, left"))};
    manager().initFromProperyArray(channels);
    notebook().notebookEntries() = {
        note(1, 1, "=HYPERLINK(\"http://x\",\"y\")", "@ops", {1, 2, 3, 4}, 3600.0 * 13 + 62),
        note(2, 2, "\tcue", "\rbob", {0, 0, 59, 0}, 60),
        note(3, 1, "a = b + c", "carol", {0, 0, 0, 0}, 0),
    };
    files.answers = {path("formulas.csv")};
    EXPECT_TRUE(window->exportClicked());
    EXPECT_EQ(fileText(path("formulas.csv")),
              "Note,LTC,Time,Creator,Channel,Audio input\r"
              "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",01:02:03,1:01:02 PM,\"'@ops\","
              "'+cmd|' /C calc'!A0,\"2\"\r"
              "\"'\tcue\",00:00:59,12:01:00 AM,\"'\rbob\",\"'-2, left\",\"3\"\r"
              "\"a = b + c\",00:00:00,12:00:00 AM,\"carol\",'+cmd|' /C calc'!A0,\"2\"\r");
}

TEST_F(NotebookWindowTest, ExportRemovesWhatAKilledExportLeftBehind) {
    const std::string leftover =
        path("notes.csv") + ".tmp-" + std::to_string(test::goneProcessID()) + "-AbC123";
    std::ofstream(leftover) << "half a notebook";
    notebook().notebookEntries() = {note(1, 1, "a")};
    files.answers = {path("notes.csv")};
    EXPECT_TRUE(window->exportClicked());
    EXPECT_FALSE(std::filesystem::exists(leftover));
}

TEST_F(NotebookWindowTest, AFailedExportNamesThePathAndTheReason) {
    notebook().notebookEntries() = {note(1, 1, "a")};
    const std::string target = path("no-such-folder/notes.csv");
    files.answers = {target};
    EXPECT_FALSE(window->exportClicked());
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_NE(alerts.alerts[0].messageText.find(target), std::string::npos);
    EXPECT_NE(alerts.alerts[0].informativeText.find("No such file or directory"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(NotebookWindowTest, ACancelledSavePanelWritesNothing) {
    EXPECT_FALSE(window->exportClicked());
    EXPECT_TRUE(alerts.alerts.empty());
    for (const auto& file : std::filesystem::recursive_directory_iterator(root_)) {
        EXPECT_NE(file.path().extension(), ".csv") << file.path();
    }
}

}  // namespace
}  // namespace quenbril
