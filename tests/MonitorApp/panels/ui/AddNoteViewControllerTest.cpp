// The note sheet: the heading, the note sent with the opening time and timecode, the macros
// and the lock kept between sheets, and cancel.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "MonitorApp/panels/ui/AddNoteViewController.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/panels/ui/NotebookTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

namespace quenbril {
namespace {

class AddNoteTest : public NotebookTest {
  protected:
    void TearDown() override {
        sheet.reset();
        NotebookTest::TearDown();
    }

    /// A new sheet for strip `csID`, shown.
    AddNoteViewController& open(int64_t csID) {
        notebook().setLatestCsID(csID);
        sheet = std::make_unique<AddNoteViewController>(sharedPanelServices());
        sheet->setLinkSender(&sender);
        sheet->show();
        return *sheet;
    }
    static std::optional<std::string> stored(const std::string& key) {
        return UserDefaults::standardUserDefaults().stringForKey(key);
    }

    std::unique_ptr<AddNoteViewController> sheet;
};

TEST_F(AddNoteTest, HeadsWithTheStripAndSendsTheOpeningTimeAndTimecode) {
    buildStrips(2);
    viewOf(2).title = "Lead vocal";
    timecodeStrip(1, {10, 11, 12, 13});
    const double opened = loop_->now();
    open(2);
    EXPECT_EQ(sheet->titleField()->text(), "NOTE TO BE ADDED FOR Lead vocal");
    EXPECT_TRUE(sheet->titleField()->isReadOnly());

    // A minute later the clock has moved on; the note keeps the moment the sheet opened.
    loop_->advance(60);
    timecodeStrip(1, {10, 12, 12, 13});
    sheet->field(AddNoteViewController::kNoteFieldTag)->setText("mic slipping");
    sheet->submitButton(AddNoteViewController::kNoteFieldTag)->click();

    ASSERT_EQ(sender.sent.size(), 1u);
    const Dictionary& sent = sender.sent[0];
    EXPECT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent["Command"].optionalString(), "RemoteAddedNote");
    EXPECT_EQ(sent["Note"].optionalString(), "mic slipping");
    EXPECT_EQ(sent["csID"].longLongValue(), 2);
    EXPECT_EQ(sent["Username"].optionalString(), "alice");
    EXPECT_EQ(sent["Time"].dateValue(), opened);
    EXPECT_EQ(sent["LTC"],
              Value(Dictionary{{"hours", 10}, {"mins", 11}, {"secs", 12}, {"frame", 13}}));
    EXPECT_FALSE(sheet->isVisible()) << "the sheet closes once sent";
    EXPECT_EQ(sheet->titleField()->text(), "NOTE TO BE ADDED");
}

TEST_F(AddNoteTest, EachSubmitButtonSendsItsOwnFieldAndAnUnknownTagNothing) {
    open(5);  // no strip 5: the heading stays, the id is sent anyway
    EXPECT_EQ(sheet->titleField()->text(), "NOTE TO BE ADDED");
    sheet->field(3)->setText("costume change");
    sheet->addNoteClicked(77);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(sheet->isVisible());
    sheet->submitButton(3)->click();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0]["Note"].optionalString(), "costume change");
    EXPECT_EQ(sender.sent[0]["csID"].longLongValue(), 5);
    EXPECT_EQ(sender.sent[0]["LTC"],
              Value(Dictionary{{"hours", 0}, {"mins", 0}, {"secs", 0}, {"frame", 0}}));
}

TEST_F(AddNoteTest, MacrosAndTheLockOutliveTheSheetButTheFreeTextDoesNot) {
    open(1);
    sheet->field(0)->setText("Battery low");
    sheet->field(7)->setText("Swap mic");
    sheet->field(AddNoteViewController::kNoteFieldTag)->setText("one-off");
    sheet->lockedButton()->click();
    EXPECT_TRUE(sheet->field(0)->isReadOnly());
    EXPECT_FALSE(sheet->field(AddNoteViewController::kNoteFieldTag)->isReadOnly());
    sheet->cancelClicked();
    EXPECT_TRUE(sender.sent.empty());

    EXPECT_EQ(stored("NotebookMacro 0"), "Battery low");
    EXPECT_FALSE(stored("NotebookMacro 501").has_value());
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey("Notebook locked"));

    open(1);
    EXPECT_EQ(sheet->field(0)->text(), "Battery low");
    EXPECT_EQ(sheet->field(7)->text(), "Swap mic");
    EXPECT_EQ(sheet->field(AddNoteViewController::kNoteFieldTag)->text(), "");
    EXPECT_TRUE(sheet->lockedButton()->isChecked());
    EXPECT_TRUE(sheet->field(3)->isReadOnly());
    EXPECT_FALSE(sheet->field(AddNoteViewController::kNoteFieldTag)->isReadOnly());

    sheet->lockedButton()->click();
    sheet->close();
    open(1);
    EXPECT_FALSE(sheet->lockedButton()->isChecked());
    EXPECT_FALSE(sheet->field(0)->isReadOnly());
}

TEST_F(AddNoteTest, OnlyTagsZeroToNinetyNineAreStoredAndRestored) {
    // A heading's text must never be stored as a macro, nor a stored value replace a heading.
    UserDefaults::standardUserDefaults().setObject(Value("stale"), "NotebookMacro -1");
    buildStrips(1);
    viewOf(1).title = "Drums";
    open(1);
    EXPECT_EQ(sheet->titleField()->text(), "NOTE TO BE ADDED FOR Drums");
    EXPECT_EQ(sheet->lowerField()->text(), "CUSTOM MACROS");
    UserDefaults::standardUserDefaults().removeObjectForKey("NotebookMacro -1");
    sheet->close();
    for (const auto& [tag, field] : sheet->fields()) {
        EXPECT_EQ(stored(AddNoteViewController::macroKey(tag)).has_value(), tag >= 0 && tag <= 99)
            << "tag " << tag;
    }
}

TEST_F(AddNoteTest, MacrosThatCannotBeStoredAreReported) {
    RecordingAlerts alerts;
    open(1);
    sheet->setAlertPresenter(&alerts);
    sheet->field(0)->setText("Battery low");
    // The settings folder's place is taken by a file, so the defaults cannot be written.
    std::filesystem::remove_all(std::filesystem::path(root_) / "Quenbril");
    std::ofstream(std::filesystem::path(root_) / "Quenbril") << "in the way";
    UserDefaults::resetStandardUserDefaults();
    sheet->cancelClicked();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].messageText, "The note macros could not be stored.");
}

}  // namespace
}  // namespace quenbril
