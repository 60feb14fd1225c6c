// The snapshot group grid: rows for the named groups only, clicks on drawn cells only, group
// names written to their own group, the delegate's say over edits, folding and the button grid.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "MonitorApp/channelstrips/Snapshot.h"
#include "MonitorApp/panels/ui/GridView.h"
#include "MonitorApp/panels/ui/GridViewDelegate.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {
namespace {

class RecordingGridDelegate : public GridViewDelegate {
  public:
    bool editOn() override { return editing; }
    int32_t indexOf(const Snapshot& /*snapshot*/) override { return index; }
    void updated(GridView& /*grid*/) override { ++updates; }
    void nameEdited(GridView& /*grid*/) override { ++namesEdited; }

    bool editing = true;
    int32_t index = 7;
    int updates = 0;
    int namesEdited = 0;
};

ChannelSettings setting(int64_t csID, int32_t group) {
    ChannelSettings s;
    s.setCsID(csID);
    s.setGroupIndex(group);
    return s;
}

std::vector<std::pair<int64_t, int32_t>> pairs(const Snapshot& snapshot) {
    std::vector<std::pair<int64_t, int32_t>> out;
    for (const ChannelSettings& s : snapshot.channelSettings()) {
        out.emplace_back(s.csID(), s.groupIndex());
    }
    return out;
}

class GridViewTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        snapshot = std::make_shared<Snapshot>();
        snapshot->setTitle("Act 1");
        snapshot->setMidiB1(4);
        snapshot->setMidiB2(127);
        // Groups 1 to 5 are named; group 3 is "None" and has no name field.
        snapshot->groupNames() = {"", "Leads", "Family", "None", "Band", "Ext"};
        // Strip 12 is in group 4 twice; strip 99 is no strip of the list.
        snapshot->channelSettings() = {setting(11, 1), setting(12, 4), setting(12, 4),
                                       setting(99, 2)};
        grid = std::make_unique<GridView>(QRect(0, 0, 400, 20), snapshot, &delegate, [] {
            return std::vector<int64_t>{11, 12, 13};
        });
    }
    void TearDown() override {
        grid.reset();
        loop_->runPending();
        SettingsTest::TearDown();
    }

    /// The centre of a cell in the grid's own coordinates (origin lower left).
    static QPointF centre(int column, int row) {
        return QPointF(GridView::kFirstColumnX + GridView::kCell * column + 7.5,
                       GridView::kCell * row + 7.5);
    }
    void endEditing(int tag, const char* text, bool returnKey = false) {
        QLineEdit* field = tag == 0 ? grid->titleField() : grid->fieldWithTag(tag);
        ASSERT_NE(field, nullptr) << tag;
        field->setText(text);
        grid->controlTextDidEndEditing(field, returnKey);
    }

    std::shared_ptr<Snapshot> snapshot;
    RecordingGridDelegate delegate;
    std::unique_ptr<GridView> grid;
};

TEST_F(GridViewTest, RowsAreDrawnForTheNamedGroupsOnlyAndNoneHasNoNameField) {
    grid->expand();
    EXPECT_EQ(grid->rows(), 6);
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            EXPECT_FALSE(grid->cellIsDark(column, row)) << "group " << 8 - row << " is unnamed";
        }
        // Group 3 ("None", row 5) has its cells.
        EXPECT_TRUE(grid->cellIsDark(column, 5).has_value());
    }
    EXPECT_FALSE(grid->cellIsDark(3, 7)) << "no fourth strip";
    EXPECT_EQ(grid->cellIsDark(0, 7), true);   // strip 11 in group 1
    EXPECT_EQ(grid->cellIsDark(1, 4), true);   // strip 12 in group 4
    EXPECT_EQ(grid->cellIsDark(1, 7), false);  // strip 99's setting has no column
    EXPECT_EQ(grid->cellIsDark(2, 6), false);

    std::vector<int> tags;
    for (const auto& field : grid->groupViews()) tags.push_back(GridView::tagOf(field));
    EXPECT_EQ(tags, (std::vector<int>{1000007, 1000006, 1000004, 1000003}));
    EXPECT_EQ(grid->fieldWithTag(1000005), nullptr);
    EXPECT_EQ(grid->fieldWithTag(1000006)->text(), "Family");
    EXPECT_EQ(grid->fieldWithTag(1000006)->toolTip(), "Set group name");

    // The pixels: a dark cell is dark grey, a clear one shows what is behind it.
    const QImage image = grid->grab().toImage();
    const QColor darkGrey(85, 85, 85);
    EXPECT_EQ(image.pixelColor(grid->cellRect(0, 7).center()), darkGrey);
    EXPECT_EQ(image.pixelColor(grid->cellRect(1, 4).center()), darkGrey);
    EXPECT_NE(image.pixelColor(grid->cellRect(0, 5).center()), darkGrey);
    EXPECT_EQ(image.pixelColor(grid->cellRect(0, 5).topLeft()), QColor(Qt::black));

    // The hover label names the group under the pointer.
    grid->mouseMoved(centre(2, 6));
    EXPECT_FALSE(grid->helperView()->isHidden());
    EXPECT_EQ(grid->helperView()->text(), "Family");
    grid->mouseMoved(QPointF(20, 100));
    EXPECT_TRUE(grid->helperView()->isHidden());
}

TEST_F(GridViewTest, AClickActsOnlyOnADrawnCell) {
    grid->expand();
    const auto before = pairs(*snapshot);
    // Left of the first column, where the column arithmetic still gives column 0.
    grid->mouseDown(QPointF(40, centre(0, 4).y()));
    grid->mouseDown(QPointF(36, centre(0, 7).y()));
    // A row of an unnamed group, right of the last strip, the header, below the grid.
    grid->mouseDown(centre(0, 0));
    grid->mouseDown(centre(3, 7));
    grid->mouseDown(QPointF(60, 130));
    grid->mouseDown(QPointF(60, -3));
    EXPECT_EQ(pairs(*snapshot), before);
    EXPECT_EQ(grid->cellIsDark(0, 7), true);
    EXPECT_EQ(grid->cellIsDark(1, 4), true);

    // Folded, the grid has no cells to hit.
    grid->collapse();
    grid->mouseDown(centre(0, 7));
    EXPECT_EQ(pairs(*snapshot), before);
}

TEST_F(GridViewTest, ADarkCellClickRemovesOneSettingAndAnotherAppendsOne) {
    grid->expand();
    // A real click, through the widget's own coordinates.
    QTest::mouseClick(grid.get(), Qt::LeftButton, {}, grid->cellRect(1, 4).center());
    EXPECT_EQ(grid->cellIsDark(1, 4), false);
    using P = std::vector<std::pair<int64_t, int32_t>>;
    EXPECT_EQ(pairs(*snapshot), (P{{11, 1}, {12, 4}, {99, 2}}));
    grid->mouseDown(centre(1, 4));
    EXPECT_EQ(grid->cellIsDark(1, 4), true);
    EXPECT_EQ(pairs(*snapshot), (P{{11, 1}, {12, 4}, {99, 2}, {12, 4}}));
    // A clear cell of the "None" group's row turns dark like any other.
    grid->mouseDown(centre(2, 5));
    EXPECT_EQ(grid->cellIsDark(2, 5), true);
    EXPECT_EQ(pairs(*snapshot).back(), (std::pair<int64_t, int32_t>(13, 3)));
}

TEST_F(GridViewTest, WithEditOffClicksAndFinishedEditsChangeNothing) {
    grid->expand();
    delegate.editing = false;
    const auto before = pairs(*snapshot);
    grid->mouseDown(centre(0, 7));
    grid->mouseDown(centre(2, 6));
    EXPECT_EQ(grid->cellIsDark(0, 7), true);
    EXPECT_EQ(grid->cellIsDark(2, 6), false);
    EXPECT_EQ(pairs(*snapshot), before);

    endEditing(0, "Other", true);
    endEditing(GridView::kMidiB1Tag, "9");
    endEditing(GridView::kMidiB2Tag, "9");
    endEditing(1000007, "Solo");
    EXPECT_EQ(snapshot->title(), "Act 1");
    EXPECT_EQ(std::pair(snapshot->midiB1(), snapshot->midiB2()), std::pair(4, 127));
    EXPECT_EQ(snapshot->groupNames()[1], "Leads");
    EXPECT_EQ(delegate.namesEdited, 0);
    // The fields show the snapshot again, not the refused text.
    EXPECT_EQ(grid->titleField()->text(), "Act 1");
    EXPECT_EQ(grid->fieldWithTag(1000007)->text(), "Leads");
}

TEST_F(GridViewTest, AGroupNameIsCutToSixCharactersWhileTyped) {
    grid->expand();
    QLineEdit* field = grid->fieldWithTag(1000007);
    field->clear();
    QTest::keyClicks(field, "Strings");
    EXPECT_EQ(field->text(), "String");
    // Characters, not UTF-16 units: the emoji counts once and is not split.
    field->setText(QString::fromUtf8("ab\U0001F600cdefg"));
    grid->controlTextDidChange(field);
    EXPECT_EQ(field->text(), QString::fromUtf8("ab\U0001F600cde"));
    // The title has no such limit.
    grid->titleField()->clear();
    QTest::keyClicks(grid->titleField(), "Act Seven");
    EXPECT_EQ(grid->titleField()->text(), "Act Seven");
}

TEST_F(GridViewTest, AGroupNameEditWritesItsOwnGroupAndNeverTheTitle) {
    grid->expand();
    // The third field names group 4: after the "None" group its place no longer tells.
    endEditing(1000004, "Horns");
    // The last field names group 5, the last element.
    endEditing(1000003, "Extra");
    using Names = std::vector<std::string>;
    EXPECT_EQ(snapshot->groupNames(), (Names{"", "Leads", "Family", "None", "Horns", "Extra"}));
    EXPECT_EQ(snapshot->title(), "Act 1");
    EXPECT_EQ(delegate.namesEdited, 0);

    // Return moves on to the next name field; in the last one it goes nowhere.
    grid->show();
    endEditing(1000007, "Lead", true);
    loop_->runPending();
    EXPECT_EQ(grid->focusWidget(), grid->fieldWithTag(1000006));
    endEditing(1000003, "Ext", true);
    loop_->runPending();
    EXPECT_EQ(grid->focusWidget(), grid->fieldWithTag(1000006));
    EXPECT_EQ(snapshot->groupNames()[1], "Lead");
    EXPECT_EQ(snapshot->title(), "Act 1");
    EXPECT_EQ(delegate.namesEdited, 0);
}

TEST_F(GridViewTest, TheTitleAndTheMidiBytesAreWrittenAndReturnInTheTitleTellsTheDelegate) {
    endEditing(0, "Act 2");
    EXPECT_EQ(snapshot->title(), "Act 2");
    EXPECT_EQ(delegate.namesEdited, 0);
    endEditing(0, "Act 3", true);
    EXPECT_EQ(snapshot->title(), "Act 3");
    EXPECT_EQ(delegate.namesEdited, 1);
    endEditing(GridView::kMidiB1Tag, "12x");
    endEditing(GridView::kMidiB2Tag, " -3");
    EXPECT_EQ(std::pair(snapshot->midiB1(), snapshot->midiB2()), std::pair(12, -3));
    endEditing(GridView::kMidiB2Tag, "none");
    EXPECT_EQ(snapshot->midiB2(), 0);

    grid->show();
    grid->focusToText();
    EXPECT_NE(grid->focusWidget(), grid->titleField());
    loop_->runPending();
    EXPECT_EQ(grid->focusWidget(), grid->titleField());
}

TEST_F(GridViewTest, FoldsUnfoldsAndMarks) {
    grid->show();
    auto headerShown = [&] {
        return grid->expandButton()->isVisible() && grid->indexButton()->isVisible() &&
               grid->titleField()->isVisible() &&
               grid->fieldWithTag(GridView::kMidiB2Tag)->isVisible();
    };
    EXPECT_TRUE(headerShown());
    EXPECT_TRUE(grid->collapsed());
    EXPECT_EQ(grid->size(), QSize(400, 20));
    EXPECT_EQ(grid->expandButton()->text(), "+");
    EXPECT_EQ(grid->indexButton()->text(), "7");
    EXPECT_EQ(grid->titleField()->text(), "Act 1");
    EXPECT_EQ(grid->fieldWithTag(GridView::kMidiB1Tag)->text(), "4");
    EXPECT_EQ(grid->fieldWithTag(GridView::kMidiB2Tag)->text(), "127");

    grid->expandButton()->click();
    EXPECT_FALSE(grid->collapsed());
    EXPECT_EQ(grid->size(), QSize(400, 140));
    EXPECT_EQ(grid->expandButton()->text(), "-");
    EXPECT_EQ(delegate.updates, 1);
    EXPECT_TRUE(headerShown());
    EXPECT_TRUE(grid->fieldWithTag(1000007)->isVisible());
    grid->expandButton()->click();
    EXPECT_TRUE(grid->collapsed());
    EXPECT_EQ(grid->height(), 20);
    EXPECT_EQ(grid->cellIsDark(0, 7), std::nullopt);
    EXPECT_EQ(delegate.updates, 2);
    EXPECT_TRUE(headerShown());
    EXPECT_EQ(grid->fieldWithTag(1000007), nullptr);

    grid->indexButton()->click();
    EXPECT_EQ(grid->borderWidth(), 3);
    grid->indexClicked();
    EXPECT_EQ(grid->borderWidth(), 1);
    delegate.index = 12;
    grid->updateIndex();
    EXPECT_EQ(grid->indexButton()->text(), "12");
}

TEST_F(GridViewTest, AButtonOfTheButtonGridSetsItsColumnsSettingWhenThereIsOne) {
    // Columns 0 and 1, groups 8 - k for k = 1..3; the button grid is the editor's.
    std::map<int, QPushButton*> buttons;
    for (int column : {0, 1, 5}) {
        for (int k : {1, 2, 3}) {
            auto* b = new QPushButton(grid.get());
            b->setCheckable(true);
            b->setChecked(true);
            b->setProperty("tag", 1000 * column + k);
            buttons[1000 * column + k] = b;
        }
    }
    grid->clicked(buttons[1003]);
    EXPECT_TRUE(buttons[1003]->isChecked());
    EXPECT_FALSE(buttons[1001]->isChecked());
    EXPECT_FALSE(buttons[1002]->isChecked());
    EXPECT_TRUE(buttons[1]->isChecked()) << "another column is left alone";
    EXPECT_EQ(snapshot->channelSettings()[1].groupIndex(), 5);
    buttons[1003]->setChecked(false);
    grid->clicked(buttons[1003]);
    EXPECT_EQ(snapshot->channelSettings()[1].groupIndex(), 0);

    // Column 5 has no setting: nothing is written past the list.
    const auto before = pairs(*snapshot);
    grid->clicked(buttons[5002]);
    EXPECT_EQ(pairs(*snapshot), before);
    EXPECT_FALSE(buttons[5001]->isChecked());
}

}  // namespace
}  // namespace quenbril
