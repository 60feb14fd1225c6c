// The strip editor over the shared strip manager: the panel limit however the window closes,
// typed names and numbers, receivers, inputs, check boxes over several rows, adding, dragging,
// the engine's listening and mute, and strips replaced by the server while it is open.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <functional>
#include <memory>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/views/editor/ChannelStripViewController.h"
#include "MonitorApp/views/editor/ReceiverNames.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"

namespace quenbril {
namespace {

using Column = ChannelStripTableModel::Column;
using Editor = ChannelStripViewController;

class FixedReceiverNames : public ReceiverNames {
  public:
    std::vector<std::string> deviceNames() const override { return names; }
    std::vector<std::string> names{"Rack 1", "Rack 2"};
};

/// Records alerts, answers the field of "How many channels?" with `typed`, and runs `during`
/// while an alert is up (as the user's event loop would run what arrives meanwhile).
class ScriptedAlerts : public RecordingAlerts {
  public:
    using RecordingAlerts::runModal;
    int runModal(QWidget* window, const Alert& alert) override {
        mutedDuring.push_back(PELAudioEngine::sharedInstance().mute());
        if (during) std::exchange(during, nullptr)();
        return RecordingAlerts::runModal(window, alert);
    }
    int runModal(QWidget* window, const Alert& alert, int width, int height,
                 std::string& text) override {
        fieldSizes.emplace_back(width, height);
        text = typed;
        return runModal(window, alert);
    }
    std::string typed;
    std::function<void()> during;
    std::vector<bool> mutedDuring;
    std::vector<std::pair<int, int>> fieldSizes;
};

class StripEditorTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        PELAudioEngine::sharedInstance().startListening();
    }
    void TearDown() override {
        editor.reset();
        StripTest::TearDown();
    }

    /// Opens the editor over the strips built so far.
    void open() {
        editor = std::make_unique<Editor>(
            Editor::Services{manager(), PELAudioEngine::sharedInstance(),
                             PlayerManager::sharedInstance(), NotificationCenter::defaultCenter(),
                             settings()},
            &receivers);
        editor->setAlertPresenter(&alerts);
        editor->show();
    }
    ChannelStripTableModel& model() const { return *editor->tableModel(); }
    QModelIndex cell(int row, Column column) const { return model().index(row, column); }
    static ChannelStripModel& strip(size_t row) {
        return ChannelStripManager::channelStripControllers()[row]->model();
    }
    static std::vector<int64_t> order() {
        std::vector<int64_t> ids;
        for (const auto& c : ChannelStripManager::channelStripControllers()) {
            ids.push_back(c->model().csID());
        }
        return ids;
    }
    /// Strips 1..inA in panel A and 101..100+inB in panel B.
    static void buildPanels(int inA, int inB) {
        Array channels;
        for (int i = 1; i <= inA; ++i) channels.emplace_back(StripTest::strip(i, "A"));
        for (int i = 1; i <= inB; ++i) channels.emplace_back(StripTest::strip(100 + i, "B"));
        manager().initFromProperyArray(channels);
    }
    /// The strips the server sends anew, as the dispatcher hands them on.
    static void channelsArrive(std::initializer_list<int64_t> ids) {
        Array channels;
        for (int64_t id : ids) channels.emplace_back(StripTest::strip(id));
        manager().initFromProperyArray(channels);
        NotificationCenter::defaultCenter().post(kChannelStripsEditedNotification);
    }
    /// Drops the dragged `rows` between rows at `row`, through the table's own drag data.
    bool drop(std::vector<int> rows, int row) {
        QModelIndexList dragged;
        for (int r : rows) dragged.push_back(cell(r, Column::Name));
        std::unique_ptr<QMimeData> data(model().mimeData(dragged));
        return model().dropMimeData(data.get(), Qt::CopyAction, row, 0, QModelIndex());
    }

    FixedReceiverNames receivers;
    ScriptedAlerts alerts;
    std::unique_ptr<Editor> editor;
};

TEST_F(StripEditorTest, ClosesWithSixtyFourStripsPerPanelAndTheSixtyFifthBlocksEveryWayOut) {
    buildPanels(64, 64);
    open();
    editor->closeButton()->click();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(alerts.texts.empty());

    for (const char* panel : {"A", "B"}) {
        SCOPED_TRACE(panel);
        buildPanels(64, 64);
        open();
        manager().controllers().push_back(std::make_unique<ChannelStripController>(manager()));
        strip(128).setPanel(std::string(panel));
        alerts.texts.clear();
        editor->closeButton()->click();
        // Esc with the table in focus, then the window's own close button.
        QTest::keyClick(editor->tableView(), Qt::Key_Escape);
        editor->close();
        EXPECT_TRUE(editor->isVisible());
        EXPECT_EQ(alerts.texts, std::vector<std::string>(3, Editor::kTooMany));
        EXPECT_FALSE(PELAudioEngine::sharedInstance().isListening());

        // The strip removed again: any way out closes now.
        manager().removeChannelStrips({128});
        QTest::keyClick(editor->tableView(), Qt::Key_Escape);
        EXPECT_FALSE(editor->isVisible());
        EXPECT_TRUE(PELAudioEngine::sharedInstance().isListening());
    }
}

TEST_F(StripEditorTest, ClosingReLaysTheStripsInTheirNewPanels) {
    manager().setSuperView(&area);
    buildPanels(3, 0);
    open();
    model().setData(cell(1, Column::Panel), 1);
    EXPECT_EQ(strip(1).panel(), std::string("B"));
    // Nothing moves on the screen until the editor closes.
    EXPECT_EQ(ChannelStripManager::controllersInPanel(manager().controllers(), "B"), 1);
    editor->closeClicked();
    EXPECT_EQ(area.placed.at(manager().controllers()[1]->view()).panel, 1);
    EXPECT_EQ(area.placed.at(manager().controllers()[2]->view()).panel, 0);
}

TEST_F(StripEditorTest, TypedTextGoesToTheEditedRowCutAndClamped) {
    buildStrips(4);
    open();
    // Another row is selected: the edit still reaches the row whose cell was edited.
    editor->selectRows({3});
    EXPECT_TRUE(model().setData(cell(0, Column::Name), QString::fromUtf8("Ångström-Ünïcode")));
    EXPECT_EQ(strip(0).name(), std::string("Ångström-Ü"));
    EXPECT_EQ(strip(3).name(), std::string("S4"));
    // Typing goes on in the row after the edited one.
    EXPECT_EQ(editor->selectedRows(), std::vector<int32_t>{1});

    model().setData(cell(1, Column::Pan), "150");
    model().setData(cell(2, Column::Gain), "-30");
    model().setData(cell(3, Column::Gain), "20");
    EXPECT_EQ(strip(1).pan(), 100);
    EXPECT_EQ(strip(2).gain(), -18);
    EXPECT_EQ(strip(3).gain(), 12);
    model().setData(cell(1, Column::Pan), "left");
    model().setData(cell(3, Column::Gain), "");
    EXPECT_EQ(strip(1).pan(), 100);
    EXPECT_EQ(strip(3).gain(), 12);
    EXPECT_EQ(model().data(cell(2, Column::Gain)).toInt(), -18);
}

TEST_F(StripEditorTest, AnAssignedReceiverAlertsAndNoDeviceNeverDoes) {
    buildStrips(3);
    strip(0).setWirelessName(std::string("Rack 1"));
    open();
    EXPECT_EQ(model().items(Column::Wireless), (QStringList{"No device", "Rack 1", "Rack 2"}));
    EXPECT_EQ(model().data(cell(0, Column::Wireless), Qt::EditRole).toInt(), 1);
    EXPECT_EQ(model().data(cell(0, Column::Wireless)).toString(), "Rack 1");
    EXPECT_EQ(model().data(cell(1, Column::Wireless), Qt::EditRole).toInt(), 0);

    model().setData(cell(1, Column::Wireless), 1);
    model().setData(cell(0, Column::Wireless), 1);  // the strip's own receiver counts too
    EXPECT_EQ(alerts.texts, std::vector<std::string>(2, Editor::kDeviceAssigned));
    for (QWidget* asking : alerts.windows) {
        ASSERT_NE(asking, nullptr);
        EXPECT_EQ(asking->window(), editor->window()) << "the alert belongs to the editor";
    }
    EXPECT_EQ(strip(1).wirelessName(), std::string("No device"));

    alerts.texts.clear();
    model().setData(cell(1, Column::Wireless), 0);
    model().setData(cell(2, Column::Wireless), 0);
    model().setData(cell(2, Column::Wireless), 2);
    EXPECT_TRUE(alerts.texts.empty());
    EXPECT_EQ(strip(1).wirelessName(), std::string("No device"));
    EXPECT_EQ(strip(2).wirelessName(), std::string("Rack 2"));
}

TEST_F(StripEditorTest, AnInputInUseAlertsAndAFreeOneIsTaken) {
    PELAudioEngine::sharedInstance().setAvailableChannels(8);
    buildStrips(2);  // inputs 1 and 2
    open();
    EXPECT_EQ(model().items(Column::InputChannel).size(), 8);
    EXPECT_EQ(model().data(cell(0, Column::InputChannel)).toString(), "2");
    model().setData(cell(0, Column::InputChannel), 2);
    model().setData(cell(0, Column::InputChannel), 1);
    EXPECT_EQ(alerts.texts, std::vector<std::string>(2, Editor::kInputInUse));
    model().setData(cell(0, Column::InputChannel), 5);
    EXPECT_EQ(strip(0).audioInput(), 5);
}

TEST_F(StripEditorTest, RowsDroppedLandAsOneSelectedBlockAndDropsOntoARowAreRefused) {
    buildStrips(8);
    open();
    ASSERT_TRUE(drop({0, 1}, 4));
    EXPECT_EQ(order(), (std::vector<int64_t>{3, 4, 1, 2, 5, 6, 7, 8}));
    EXPECT_EQ(editor->selectedRows(), (std::vector<int32_t>{2, 3}));

    buildStrips(8);
    ASSERT_TRUE(drop({0, 5, 6, 7}, 2));
    EXPECT_EQ(order(), (std::vector<int64_t>{2, 1, 6, 7, 8, 3, 4, 5}));
    EXPECT_EQ(editor->selectedRows(), (std::vector<int32_t>{1, 2, 3, 4}));

    // Onto a row, or between rows at one of the dragged rows: nothing moves.
    std::unique_ptr<QMimeData> data(model().mimeData({cell(0, Column::Name)}));
    EXPECT_FALSE(
        model().canDropMimeData(data.get(), Qt::CopyAction, -1, -1, cell(3, Column::Name)));
    EXPECT_FALSE(model().dropMimeData(data.get(), Qt::CopyAction, -1, -1, cell(3, Column::Name)));
    EXPECT_FALSE(drop({2, 3}, 3));
    // Data that is no archive of this table's rows.
    QMimeData foreign;
    foreign.setData(ChannelStripTableModel::kDragType, "not an archive");
    EXPECT_FALSE(model().dropMimeData(&foreign, Qt::CopyAction, 0, 0, QModelIndex()));
    EXPECT_EQ(order(), (std::vector<int64_t>{2, 1, 6, 7, 8, 3, 4, 5}));
    // The same rows offered from outside this table (another window, another program).
    editor->tableView()->resize(800, 300);
    std::unique_ptr<QMimeData> offered(model().mimeData({cell(0, Column::Name)}));
    const QPoint between = editor->tableView()->visualRect(cell(3, Column::Name)).topLeft();
    QDragEnterEvent enter(between, Qt::CopyAction, offered.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(editor->tableView()->viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent dropped(QPointF(between), Qt::CopyAction, offered.get(), Qt::LeftButton,
                       Qt::NoModifier);
    QCoreApplication::sendEvent(editor->tableView()->viewport(), &dropped);
    EXPECT_FALSE(dropped.isAccepted());
    EXPECT_EQ(order(), (std::vector<int64_t>{2, 1, 6, 7, 8, 3, 4, 5}));
    // Below the last row: the end of the list.
    ASSERT_TRUE(drop({0}, -1));
    EXPECT_EQ(order().back(), 2);
}

TEST_F(StripEditorTest, ACheckBoxClickedInASelectionSetsEveryRowToTheOppositeOfTheClickedOne) {
    buildStrips(4);  // SCP on in every strip
    strip(1).setScpEnabled(false);
    open();
    editor->tableView()->resize(800, 300);
    editor->selectRows({0, 1, 2});
    QWidget* viewport = editor->tableView()->viewport();
    auto click = [&](int row, Column column) {
        const QRect r = editor->tableView()->visualRect(cell(row, column));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, r.center());
    };
    click(1, Column::Scp);
    EXPECT_TRUE(strip(0).scpEnabled() && strip(1).scpEnabled() && strip(2).scpEnabled());
    EXPECT_EQ(editor->selectedRows(), (std::vector<int32_t>{0, 1, 2}));
    click(0, Column::Scp);
    EXPECT_FALSE(strip(0).scpEnabled() || strip(1).scpEnabled() || strip(2).scpEnabled());
    EXPECT_TRUE(strip(3).scpEnabled());
    EXPECT_EQ(model().data(cell(0, Column::Scp), Qt::CheckStateRole).toInt(), Qt::Unchecked);

    // A click in a row outside the selection reaches that row alone.
    click(3, Column::Rf);
    EXPECT_FALSE(strip(3).rfWarnEnabled());
    EXPECT_TRUE(strip(0).rfWarnEnabled());
}

TEST_F(StripEditorTest, APanelChosenInThePopUpGoesToEverySelectedRow) {
    buildStrips(3);
    open();
    editor->tableView()->resize(800, 300);
    editor->selectRows({0, 2});
    editor->tableView()->edit(cell(2, Column::Panel));
    auto* combo = editor->tableView()->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentIndex(), 0);
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(strip(0).panel(), std::string("B"));
    EXPECT_EQ(strip(1).panel(), std::string("A"));
    EXPECT_EQ(strip(2).panel(), std::string("B"));
}

TEST_F(StripEditorTest, PlayersAreChosenByDisplayName) {
    auto player = std::make_shared<Player>();
    player->setName("Ann");
    player->setRoleName("Eliza");
    PlayerManager::sharedInstance().players().push_back(player);
    buildStrips(2);
    open();
    EXPECT_EQ(model().items(Column::Player), (QStringList{"No player", "Ann as Eliza"}));
    EXPECT_FALSE(model().data(cell(0, Column::Player), Qt::EditRole).isValid());
    model().setData(cell(0, Column::Player), 1);
    EXPECT_EQ(strip(0).playerName(), std::string("Ann as Eliza"));
    EXPECT_EQ(model().data(cell(0, Column::Player), Qt::EditRole).toInt(), 1);
    model().setData(cell(0, Column::Player), 0);
    EXPECT_EQ(strip(0).playerName(), std::string("No player"));
}

TEST_F(StripEditorTest, TheEngineRestsWhileTheEditorIsOpen) {
    buildStrips(2);
    open();
    EXPECT_FALSE(PELAudioEngine::sharedInstance().isListening());
    editor->closeClicked();
    EXPECT_TRUE(PELAudioEngine::sharedInstance().isListening());
    // Opened again: it rests again.
    editor->show();
    EXPECT_FALSE(PELAudioEngine::sharedInstance().isListening());
}

TEST_F(StripEditorTest, AddingIsMutedAndFailsWithItsAlertWhereNoInputIsFree) {
    settings().setActAsClient(true);  // the remote role: the engine has no inputs
    buildStrips(2);
    open();
    editor->addButton()->click();
    EXPECT_EQ(alerts.texts, std::vector<std::string>{Editor::kCannotCreate});
    EXPECT_EQ(alerts.mutedDuring, std::vector<bool>{true});
    EXPECT_FALSE(PELAudioEngine::sharedInstance().mute());
    EXPECT_EQ(model().rowCount(), 2);

    PELAudioEngine::sharedInstance().setAvailableChannels(4);
    alerts.texts.clear();
    editor->addButton()->click();
    EXPECT_TRUE(alerts.texts.empty());
    EXPECT_EQ(model().rowCount(), 3);
    EXPECT_EQ(model().data(cell(2, Column::Name)).toString(),
              "Ch 4");  // input 3, after the last strip's 2
}

TEST_F(StripEditorTest, AddManyAddsUntilTheFirstFailure) {
    PELAudioEngine::sharedInstance().setAvailableChannels(4);
    buildStrips(1);  // input 1
    open();
    alerts.typed = "5";
    editor->addManyButton()->click();
    EXPECT_EQ(model().rowCount(), 4);
    EXPECT_EQ(alerts.texts, (std::vector<std::string>{Editor::kHowMany, Editor::kCannotCreateAll}));
    EXPECT_EQ(alerts.fieldSizes, (std::vector<std::pair<int, int>>{{200, 24}}));
    EXPECT_EQ(alerts.alerts[0].buttons, (std::vector<std::string>{"Ok", "Cancel"}));
    EXPECT_FALSE(PELAudioEngine::sharedInstance().mute());

    // Cancel, nothing typed, or a count of no strips: nothing added.
    manager().removeChannelStrips({3});
    alerts.answer = 1;
    editor->addManyButton()->click();
    alerts.answer = 0;
    for (const char* typed : {"", "-2", "many"}) {
        alerts.typed = typed;
        editor->addManyButton()->click();
    }
    EXPECT_EQ(manager().controllers().size(), 3u);
}

TEST_F(StripEditorTest, RemoveTakesTheSelectedRows) {
    buildStrips(5);
    open();
    editor->selectRows({1, 3});
    editor->removeButton()->click();
    EXPECT_EQ(order(), (std::vector<int64_t>{1, 3, 5}));
    EXPECT_EQ(model().rowCount(), 3);
}

TEST_F(StripEditorTest, StripsReplacedWhileOpenResetTheTableAndOldEditsReachNoStrip) {
    PELAudioEngine::sharedInstance().setAvailableChannels(16);
    buildStrips(3);
    open();
    const QModelIndex old = cell(0, Column::Name);
    editor->selectRows({0, 1, 2});
    channelsArrive({7, 8});
    EXPECT_EQ(model().rowCount(), 2);
    EXPECT_TRUE(editor->selectedRows().empty());
    EXPECT_FALSE(model().setData(old, "Stale"));
    EXPECT_EQ(strip(0).name(), std::string("S7"));

    // The strips replaced while an alert is up: the table shows the new ones afterwards, and
    // the edit the alert refused reaches none of them.
    alerts.during = [] { channelsArrive({9, 10, 11}); };
    model().setData(cell(0, Column::InputChannel), 8 % 1000);  // strip 8's input
    EXPECT_EQ(alerts.texts, std::vector<std::string>{Editor::kInputInUse});
    EXPECT_EQ(model().rowCount(), 3);
    EXPECT_EQ(model().data(model().index(2, Column::Name)).toString(), "S11");
    EXPECT_EQ(strip(0).audioInput(), 9);

    // The same through the input's pop-up, whose editor goes with the replaced table.
    alerts.during = [] { channelsArrive({12, 13}); };
    editor->tableView()->resize(800, 300);
    editor->tableView()->edit(cell(0, Column::InputChannel));
    auto* combo = editor->tableView()->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    combo->setCurrentIndex(10);  // strip 10's input
    emit combo->activated(10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(alerts.texts.back(), Editor::kInputInUse);
    EXPECT_EQ(model().rowCount(), 2);
    EXPECT_EQ(strip(0).audioInput(), 12);
    EXPECT_EQ(editor->tableView()->findChild<QComboBox*>(), nullptr);
}

}  // namespace
}  // namespace quenbril
