// The mic-check window: name colours by check status, the act shown, ticks in row order with
// their notifications, rows whose strips have left the list, and the window level.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "MonitorApp/app/context/SharedRemoteContext.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/panels/ui/MediumDateText.h"
#include "MonitorApp/panels/ui/MicCheckTableModel.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/dispatch/RecordingDispatcherWindow.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

namespace quenbril {
namespace {

using Column = MicCheckTableModel::Column;

class MicCheckTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        setenv("TZ", "UTC", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        settings().setChatUsername("alice");
        buildStrips(3);
        window = std::make_unique<MicCheckViewController>(sharedPanelServices());
    }
    void TearDown() override {
        window.reset();
        StripTest::TearDown();
    }

    QVariant cell(int row, Column column, int role = Qt::DisplayRole) const {
        QAbstractItemModel* model = window->tableView()->model();
        return model->data(model->index(row, column), role);
    }
    QColor nameColor(int row) const {
        return cell(row, Column::kName, Qt::ForegroundRole).value<QColor>();
    }
    MicCheckState& check(int64_t csID) { return stateOf(csID).micCheckState(); }
    void select(std::initializer_list<int> rows) {
        window->tableView()->clearSelection();
        for (int row : rows) {
            window->tableView()->selectionModel()->select(
                window->tableView()->model()->index(row, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    std::unique_ptr<MicCheckViewController> window;
};

TEST_F(MicCheckTest, NamesAreColouredByCheckStatusAndCellsShowTheRecord) {
    check(1).setNeedsChecking(true);
    check(1).setChecked(true);
    check(1).setUser("bob");
    check(1).setNote("spare pack");
    check(1).setTime(Date{13 * 3600 + 5 * 60 + 7});
    check(2).setNeedsChecking(true);
    check(2).setChecked(false);
    check(3).setNeedsChecking(false);
    check(3).setChecked(true);
    window->show();

    ASSERT_EQ(window->tableView()->model()->rowCount(), 3);
    EXPECT_EQ(nameColor(0), MicCheckTableModel::nameColor(true, true));
    EXPECT_EQ(nameColor(0).name(), "#b2ff33");  // green
    EXPECT_EQ(nameColor(1).name(), "#e53935");  // red
    EXPECT_EQ(nameColor(2), QColor(Qt::gray)) << "not needing a check stays grey though checked";
    EXPECT_EQ(MicCheckTableModel::nameColor(false, false), QColor(Qt::gray));

    EXPECT_EQ(cell(0, Column::kName).toString(), "S1");
    EXPECT_EQ(cell(0, Column::kUser).toString(), "bob");
    EXPECT_EQ(cell(0, Column::kNote).toString(), "spare pack");
    EXPECT_EQ(cell(0, Column::kTime).toString(), "Jan 1, 2001 1:05:07 PM");
    EXPECT_EQ(cell(0, Column::kChecked, Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(cell(1, Column::kChecked, Qt::CheckStateRole).toInt(), Qt::Unchecked);
    check(2).setTime(std::nullopt);
    window->update();
    EXPECT_EQ(cell(1, Column::kTime).toString(), "") << "a record without a time shows none";
    EXPECT_FALSE(cell(5, Column::kName).isValid());
}

TEST_F(MicCheckTest, ServerRecordsWithDatesThatAreNotFiniteOrInRangeShowNoTime) {
    // A time that is not a number showed as "16 May -292275025".
    settings().setActAsClient(true);
    FixedShortTimeClock clock;
    RecordingDispatcherWindow dispatchWindow;
    ServerMessageDispatcher dispatcher(sharedRemoteContext(clock), dispatchWindow);
    Array records;
    int64_t csID = 1;
    for (double bad : {std::nan(""), HUGE_VAL, 1e300}) {
        records.emplace_back(Dictionary{{"csID", csID++},
                                        {"checked", true},
                                        {"user", "bob"},
                                        {"time", Value::date(bad)},
                                        {"needsChecking", true}});
    }
    dispatcher.messageReceivedFromServer(
        Value(Dictionary{{"Command", "MicCheckArray"}, {"Value", records}}));
    window->show();
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(cell(row, Column::kUser).toString(), "bob") << row;
        EXPECT_EQ(cell(row, Column::kTime).toString(), "") << row;
    }
}

/// Pixels of `area` whose brightness differs from `against`'s by more than `by`.
int pixelsApart(const QImage& picture, const QRect& area, const QColor& against, int by) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (std::abs(qGray(picture.pixel(x, y)) - qGray(against.rgb())) > by) ++count;
        }
    }
    return count;
}

// Under the application's dark palette, whose selected text is black: a selected row reads
// light on its colour, an unchecked box shows on the black table, and a strip never checked
// (the server's time 0) shows no time.
TEST_F(MicCheckTest, SelectedRowsAndUncheckedBoxesReadOnTheDarkTableAndNoCheckShowsNoTime) {
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Window, QColor(46, 46, 48));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    QApplication::setPalette(dark);
    for (int64_t csID : {1, 2, 3}) {
        check(csID).setUser("bob");
        check(csID).setChecked(false);
        check(csID).setTime(Date{0});
    }
    window->resize(640, 300);
    window->show();
    EXPECT_EQ(cell(0, Column::kTime).toString(), "");
    select({0});
    QApplication::processEvents();

    QTableView* table = window->tableView();
    const QImage picture = table->viewport()->grab().toImage();
    const QRect user = table->visualRect(table->model()->index(0, Column::kUser));
    const QColor selection = picture.pixelColor(user.bottomRight() - QPoint(2, 2));
    EXPECT_GE(pixelsApart(picture, user, selection, 100), 5) << "the selected row's text";
    const QRect box = table->visualRect(table->model()->index(1, Column::kChecked));
    EXPECT_GE(pixelsApart(picture, box, Qt::black, 90), 8) << "the unchecked box";
    QApplication::setPalette(before);
}

TEST_F(MicCheckTest, TheTitleNamesTheCurrentActOrTheChosenOne) {
    settings().setCurrentAct(2);
    window->show();
    EXPECT_EQ(window->windowTitle(), "Showing ACT 3");
    EXPECT_EQ(window->actLabel()->text(), "Showing ACT 3");
    EXPECT_EQ(window->actSelector()->itemText(0), "Current act");
    EXPECT_EQ(window->actSelector()->itemText(4), "Act 4");
    window->actSelector()->setCurrentIndex(4);
    EXPECT_EQ(window->windowTitle(), "Showing ACT 4");
    settings().setCurrentAct(7);
    window->update();
    EXPECT_EQ(window->actLabel()->text(), "Showing ACT 4") << "a chosen act ignores the current";
}

TEST_F(MicCheckTest, TickingInvertsEachSelectedRowAndPostsInRowOrder) {
    NotificationRecorder clicks(kChannelCheckClickedNotification);
    check(1).setChecked(false);
    check(3).setChecked(true);
    window->show();
    const int before1 = viewOf(1).appearanceUpdates;
    const int before3 = viewOf(3).appearanceUpdates;
    loop_->advance(30);
    select({2, 0});
    window->checkButton()->click();

    EXPECT_TRUE(check(1).checked());
    EXPECT_FALSE(check(3).checked());
    EXPECT_FALSE(check(2).checked()) << "an unselected row is left alone";
    for (int64_t id : {1, 3}) {
        EXPECT_EQ(check(id).user(), "alice");
        EXPECT_EQ(check(id).time(), Date{loop_->now()});
    }
    EXPECT_EQ(viewOf(1).appearanceUpdates, before1 + 1);
    EXPECT_EQ(viewOf(3).appearanceUpdates, before3 + 1);
    ASSERT_EQ(clicks.posted.size(), 2u);
    EXPECT_EQ(clicks.posted[0]["index"], Value(int64_t{1}));
    EXPECT_EQ(clicks.posted[1]["index"], Value(int64_t{3}));
    EXPECT_EQ(clicks.posted[0]["sender"], Value("alice"));
    EXPECT_EQ(clicks.posted[0]["uuid"], Value(ChatManager::uuid()));
    EXPECT_EQ(nameColor(0).name(), "#b2ff33");
    EXPECT_EQ(nameColor(2).name(), "#e53935");
    EXPECT_EQ(window->tableView()->selectionModel()->selectedRows().size(), 2)
        << "the selection stays for the next tick";
}

TEST_F(MicCheckTest, ATickOnARowWhoseStripLeftTheListReachesNoOtherStrip) {
    NotificationRecorder clicks(kChannelCheckClickedNotification);
    window->show();
    select({0, 2});
    // A "Channels" message between the reload and the tick: strip 3 is gone and strip 1 moved.
    manager().initFromProperyArray(Array{strip(2), strip(1)});
    window->checkButton()->click();

    ASSERT_EQ(clicks.posted.size(), 1u);
    EXPECT_EQ(clicks.posted[0]["index"], Value(int64_t{1}));
    EXPECT_TRUE(check(1).checked());
    EXPECT_FALSE(check(2).checked()) << "the strip now in row 0 is not the one selected";
    // The rows follow the list once the table reloads.
    window->update();
    EXPECT_EQ(window->tableView()->model()->rowCount(), 2);
    EXPECT_EQ(cell(0, Column::kName).toString(), "S2");
}

TEST_F(MicCheckTest, TheServersRecordsReloadTheTable) {
    window->show();
    EXPECT_EQ(nameColor(1).name(), "#e53935");
    check(2).setChecked(true);
    check(2).setUser("carol");
    NotificationCenter::defaultCenter().post("ChannelStripChecked");
    EXPECT_EQ(nameColor(1).name(), "#b2ff33");
    EXPECT_EQ(cell(1, Column::kUser).toString(), "carol");
}

TEST_F(MicCheckTest, TheWindowLevelFollowsTheStoredSetting) {
    window->show();
    EXPECT_FALSE(window->onTop()->isChecked());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    window->onTop()->click();
    EXPECT_TRUE(defaults().boolForKey(MicCheckViewController::kOnTopKey));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isVisible());
    window->closeButton()->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(defaults().objectForKey(MicCheckViewController::kFrameName).isString());

    MicCheckViewController again(sharedPanelServices());
    again.show();
    EXPECT_TRUE(again.onTop()->isChecked());
    EXPECT_TRUE(again.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(MediumDateText, DropsTheWeekdayAndTheZone) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(MediumDateText::dateFormat(us), "MMM d, yyyy");
    EXPECT_FALSE(MediumDateText::timeFormat(us).contains('t'));
    EXPECT_TRUE(MediumDateText::timeFormat(us).contains("ss"));
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_FALSE(MediumDateText::dateFormat(de).contains("dddd"));
    EXPECT_TRUE(MediumDateText::timeFormat(de).contains("ss"));
}

// A frame kept from a run where the panel hung over the screen's edge (or a screen since gone
// smaller) comes back fully on the screen; so does a panel opened partly off it. Every lockable
// panel (strip editor, timecode, notebook...) is placed the same way as it shows.
TEST_F(MicCheckTest, APanelRestoredOrOpenedPartlyOffTheScreenLiesFullyOnIt) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect off(screen.right() - 200, screen.bottom() - 100, 500, 300);
    defaults().setObject(Value(WindowFrameAutosave::frameText(off)),
                         MicCheckViewController::kFrameName);
    window->show();
    EXPECT_TRUE(screen.contains(window->geometry()))
        << window->geometry().x() << "," << window->geometry().y();
    EXPECT_EQ(window->size(), off.size());
    window->close();

    MicCheckViewController other(sharedPanelServices());
    defaults().removeObjectForKey(MicCheckViewController::kFrameName);
    other.setGeometry(screen.left() - 300, screen.top() + 20, 500, 300);
    other.show();
    EXPECT_TRUE(screen.contains(other.geometry()));
    other.close();
}

}  // namespace
}  // namespace quenbril
