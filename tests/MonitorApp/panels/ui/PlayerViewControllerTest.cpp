// The performer window on the offscreen platform: the replay commands and texts, the time
// labels, the zoom, the binding by csID and the editor's checks.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include "MonitorApp/panels/ui/DragDropImageView.h"
#include "tests/MonitorApp/panels/ui/PerformerTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/support/QtTestTime.h"

namespace quenbril {
namespace {

using Commands = std::vector<std::pair<std::string, int64_t>>;

TEST_F(PerformerTest, TheChannelViewShowsTheStripsPerformerAndHistory) {
    PlayerViewController& w = openChannelView(2, 2);
    EXPECT_EQ(w.windowTitle().toStdString(), "S3 - Input 4");
    EXPECT_EQ(w.nameField()->text().toStdString(), "Name3");
    EXPECT_EQ(w.roleField()->text().toStdString(), "Role3");
    EXPECT_TRUE(w.nameField()->isReadOnly());
    EXPECT_FALSE(w.saveButton()->isVisible());
    EXPECT_TRUE(w.scrollView()->isVisible());
    EXPECT_EQ(w.scrollView()->chanIndex(), 2);
    EXPECT_TRUE(w.scrollView()->audioHistoryAvailable());
    EXPECT_EQ(PlaybackManager::sharedInstance().playedCSID(), 3);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    // RF C and D only with four antennas.
    EXPECT_TRUE(w.viewsWithTag(52).front()->isHidden());
    EXPECT_FALSE(w.viewsWithTag(22).front()->isHidden());
    // Export writes no file on a remote: it is disabled and says why.
    EXPECT_FALSE(w.exportButton()->isEnabled());
    EXPECT_EQ(w.exportButton()->toolTip().toStdString(), PlayerViewController::kExportToolTip);
    w.exportClicked();
    EXPECT_TRUE(files.requests.empty());
}

TEST_F(PerformerTest, AReplayClickSendsTheDelayAndShowsHowLongAgo) {
    PlayerViewController& w = openChannelView(0, 0);
    const struct {
        int32_t delay;
        const char* text;
    } cases[] = {{47999, "PLAYING BACK 0 SECS AGO"},
                 {2880000, "PLAYING BACK 1 MIN 0 SECS AGO"},
                 {6024000, "PLAYING BACK 2 MIN 5 SECS AGO"}};
    for (const auto& c : cases) {
        sender.sent.clear();
        clickHistory(c.delay);
        EXPECT_EQ(w.battery()->text().toStdString(), c.text);
        ASSERT_EQ(sender.sent.size(), 1u);
        EXPECT_EQ(sender.sent[0], (Dictionary{{"Command", "PlaybackStarted"},
                                              {"CSID", int64_t{1}},
                                              {"DelayInSamples", c.delay}}));
        EXPECT_TRUE(w.backToLiveButton()->isEnabled());
    }
    EXPECT_EQ(w.statusColor(), QColor(Qt::red));

    // The text blinks: clear on odd ticks, red on even ones.
    const uint32_t first = w.flashCounter();
    loop_->advance(0.5);
    EXPECT_EQ(w.statusColor(), first % 2 ? QColor(Qt::transparent) : QColor(Qt::red));
    loop_->advance(0.5);
    EXPECT_EQ(w.statusColor(), first % 2 ? QColor(Qt::red) : QColor(Qt::transparent));
    EXPECT_EQ(w.flashCounter(), first + 2);

    sender.sent.clear();
    w.backToLiveClicked();
    EXPECT_EQ(commandsWithIDs(), (Commands{{"PlaybackStopped", 1}}));
    EXPECT_EQ(sender.sent[0], (Dictionary{{"Command", "PlaybackStopped"}, {"CSID", int64_t{1}}}));
    EXPECT_EQ(w.battery()->text().toStdString(), "");
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    EXPECT_FALSE(w.backToLiveButton()->isEnabled());
}

TEST_F(PerformerTest, AStripWithoutHistoryStartsNoReplayButKeepsTheZoomControls) {
    PlayerViewController& w = openChannelView(1, 1);
    EXPECT_FALSE(w.scrollView()->audioHistoryAvailable());
    EXPECT_TRUE(w.backToLiveButton()->isHidden());
    EXPECT_FALSE(w.horizontalZoom()->isHidden());
    EXPECT_FALSE(w.followRealTimeButton()->isHidden());
    clickHistory(48000);
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(PerformerTest, TimeLabelsReadFromTheVisiblePartAndNowAtTheLiveEnd) {
    PlayerViewController& w = openChannelView(0, 0);
    EKGScrollView& history = *w.scrollView();
    w.setZoomValue(2.0f);
    ASSERT_GT(history.clipWidth(), 0);
    EXPECT_DOUBLE_EQ(history.documentWidth(), 2.0 * history.clipWidth());
    loop_->advance(0.5);
    EXPECT_EQ(w.leftLabel()->text().toStdString(), "2 m 30 s ago");
    EXPECT_EQ(w.middleLabel()->text().toStdString(), "1 m 15 s ago");
    EXPECT_EQ(w.rightLabel()->text().toStdString(), "Now");
    EXPECT_FALSE(w.followRealTimeButton()->isEnabled());

    history.scrollTo(0);
    EXPECT_TRUE(w.followRealTimeButton()->isEnabled());
    loop_->advance(0.5);
    EXPECT_EQ(w.leftLabel()->text().toStdString(), "5 m 0 s ago");
    EXPECT_EQ(w.rightLabel()->text().toStdString(), "2 m 30 s ago");

    w.followRealTimeButton()->click();
    EXPECT_TRUE(history.lastColumnVisible());
    EXPECT_FALSE(w.followRealTimeButton()->isEnabled());
}

TEST_F(PerformerTest, FlashBeforeAnyLayoutLeavesTheLabels) {
    PlayerViewController w(sharedPanelServices(), &sender);
    w.leftLabel()->setText("kept");
    ASSERT_EQ(w.scrollView()->documentWidth(), 0);
    w.flash();
    EXPECT_EQ(w.leftLabel()->text().toStdString(), "kept");
    EXPECT_EQ(w.rightLabel()->text().toStdString(), "");
}

TEST_F(PerformerTest, TheStoredZoomIsHeldBetweenOneAnd6Point7AndStored) {
    defaults().setObject(Value(0.5f), "horizontalZoom");
    EXPECT_FLOAT_EQ(openChannelView(0, 0).zoomValue(), 1.0f);
    window->close();
    defaults().setObject(Value(9.0f), "horizontalZoom");
    PlayerViewController& w = openChannelView(0, 0);
    EXPECT_FLOAT_EQ(w.zoomValue(), 6.7f);
    w.setZoomValue(3.0f);
    EXPECT_FLOAT_EQ(defaults().floatForKey("horizontalZoom"), 3.0f);
    EXPECT_TRUE(w.scrollView()->lastColumnVisible());
}

TEST_F(PerformerTest, RebindingOrClosingDuringAReplayEndsIt) {
    PlayerViewController& w = openChannelView(0, 0);
    clickHistory(96000);
    sender.sent.clear();
    w.updatePlayer(2, 2);
    // The replayed strip hears the end first; the new strip's back-to-live follows.
    EXPECT_EQ(commandsWithIDs(), (Commands{{"PlaybackStopped", 1}, {"PlaybackStopped", 3}}));
    EXPECT_EQ(w.channelIndex(), 2);
    EXPECT_EQ(w.windowTitle().toStdString(), "S3 - Input 4");
    EXPECT_EQ(w.nameField()->text().toStdString(), "Name3");
    EXPECT_EQ(w.scrollView()->chanIndex(), 2);

    clickHistory(96000);
    sender.sent.clear();
    w.close();
    EXPECT_TRUE(w.isClosed());
    EXPECT_EQ(commandsWithIDs(), (Commands{{"PlaybackStopped", 3}}));
    EXPECT_EQ(PlaybackManager::sharedInstance().playedCSID(), -1);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    EXPECT_TRUE(defaults().stringForKey("playerWindowAutoSave9").has_value());
}

TEST_F(PerformerTest, ANewChannelsListFindsTheStripByItsIdWhereverItMoved) {
    PlayerViewController& w = openChannelView(2, 2);
    loadStrips({3, 1});
    sender.sent.clear();
    NotificationCenter::defaultCenter().post(kChannelStripsEditedNotification);
    EXPECT_EQ(w.channelIndex(), 0);
    EXPECT_EQ(w.playerIndex(), 2);
    EXPECT_EQ(w.scrollView()->chanIndex(), 0);
    EXPECT_EQ(w.windowTitle().toStdString(), "S3 - Input 4");
    clickHistory(48000);
    EXPECT_EQ(commandsWithIDs().back(), (std::pair<std::string, int64_t>{"PlaybackStarted", 3}));
}

TEST_F(PerformerTest, WhenItsStripIsGoneTheReplayEndsAndNothingMoreNamesIt) {
    PlayerViewController& w = openChannelView(0, 0);
    clickHistory(96000);
    loadStrips({2, 3});
    sender.sent.clear();
    NotificationCenter::defaultCenter().post(kChannelStripsEditedNotification);
    EXPECT_EQ(commandsWithIDs(), (Commands{{"PlaybackStopped", 1}}));
    EXPECT_EQ(w.channelIndex(), -1);
    EXPECT_EQ(w.controller(), nullptr);
    EXPECT_EQ(w.scrollView()->chanIndex(), -1);
    EXPECT_EQ(w.windowTitle().toStdString(), "No strip");
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);

    // Strip 2 now sits where strip 1 was: nothing the window does names it.
    sender.sent.clear();
    clickHistory(96000);
    w.backToLiveClicked();
    loop_->advance(1.0);
    w.close();
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(PerformerTest, TheEditorFromThePlayerListBindsNoStrip) {
    PlayerViewController& w = openEditor(-1);
    EXPECT_EQ(w.controller(), nullptr);
    // The renderer keeps the channel it was made with.
    EXPECT_EQ(w.scrollView()->chanIndex(), 0);
    EXPECT_TRUE(w.scrollView()->isHidden());
    EXPECT_FALSE(w.actorSection()->isHidden());
    EXPECT_FALSE(w.nameField()->isReadOnly());
    EXPECT_TRUE(w.saveButton()->isVisible());
    // A replay another window runs is none of the editor's business.
    PlaybackManager::sharedInstance().setPlayedCSID(1);
    clickHistory(96000);
    w.close();
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(PlaybackManager::sharedInstance().playedCSID(), 1);
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 96000);
}

TEST_F(PerformerTest, TheEditorRefusesAnEmptyNameAndADuplicateNewPlayer) {
    NotificationRecorder updated("playerUpdated");
    PlayerViewController& w = openEditor(-1);
    w.okClicked();
    EXPECT_EQ(alerts.texts, (std::vector<std::string>{"Real name can't be empty"}));

    w.nameField()->setText("Name1");
    w.roleField()->setText("Role1");
    w.okClicked();
    ASSERT_EQ(alerts.texts.size(), 2u);
    EXPECT_EQ(alerts.texts[1],
              "You already have Name1 as Role1. Either real name or role name must be different");
    EXPECT_EQ(PlayerManager::sharedInstance().players().size(), 3u);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(updated.posted.empty());

    w.roleField()->setText("Understudy");
    w.commentsField()->setPlainText("new");
    w.okClicked();
    const auto& players = PlayerManager::sharedInstance().players();
    ASSERT_EQ(players.size(), 4u);
    EXPECT_EQ(players[3]->displayName(), "Name1 as Understudy");
    EXPECT_EQ(players[3]->comments(), "new");
    EXPECT_EQ(updated.posted.size(), 1u);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(PerformerTest, EditingKeepsTheOldPictureUnlessANewOneWasChosen) {
    const Bytes old = Player::dropImageHere();
    PlayerManager::sharedInstance().players()[0]->setImage(old);
    PlayerViewController& w = openEditor(0);
    EXPECT_FALSE(w.imageView()->image().isNull());  // the stored TIFF is shown
    // Editing into an existing name and role pair is allowed.
    w.nameField()->setText("Name2");
    w.roleField()->setText("Role2");
    w.okClicked();
    const Player& edited = *PlayerManager::sharedInstance().players()[0];
    EXPECT_EQ(edited.displayName(), "Name2 as Role2");
    EXPECT_EQ(edited.image(), old);
    EXPECT_TRUE(alerts.texts.empty());
}

TEST_F(PerformerTest, BrowseTakesThePictureTheFilePanelChose) {
    const std::string path = ::testing::TempDir() + "browse.png";
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::green);
    ASSERT_TRUE(picture.save(QString::fromStdString(path), "PNG"));
    files.answers = {path};
    PlayerViewController& w = openEditor(0);
    w.browseClicked();
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_TRUE(files.requests[0].allowedTypes.empty());
    ASSERT_FALSE(w.imageView()->imageData().empty());
    EXPECT_EQ(w.imageView()->imageData()[0], 0xFF);
    w.okClicked();
    EXPECT_EQ(PlayerManager::sharedInstance().players()[0]->image(), w.imageView()->imageData());
}

TEST_F(PerformerTest, TheEditorChecksItsPlayerAgainWhenSaving) {
    PlayerViewController& w = openEditor(2);
    w.nameField()->setText("Changed");
    // The list shrank while the editor was open.
    PlayerManager::sharedInstance().players().resize(1);
    w.okClicked();
    EXPECT_EQ(PlayerManager::sharedInstance().players()[0]->name(), "Name1");
    EXPECT_FALSE(w.isVisible());
}

TEST_F(PerformerTest, InTheEditorReturnBreaksTheLineAndTabIsATab) {
    PlayerViewController& w = openEditor(-1);
    for (QLineEdit* field : {w.nameField(), w.roleField()}) {
        QTest::keyClicks(field, "Ann");
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClicks(field, "Lee");
        QTest::keyClick(field, Qt::Key_Tab);
        QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
    }
    EXPECT_EQ(w.nameField()->text(), "Ann\nLee\t\n");
    EXPECT_EQ(w.roleField()->text(), "Ann\nLee\t\n");
    w.okClicked();
    ASSERT_EQ(PlayerManager::sharedInstance().players().size(), 4u);
    EXPECT_EQ(PlayerManager::sharedInstance().players()[3]->name(), "Ann\nLee\t\n");

    // The channel view's fields are read-only: the keys change nothing there.
    PlayerViewController& view = openChannelView(0, 0);
    QTest::keyClick(view.nameField(), Qt::Key_Return);
    QTest::keyClick(view.nameField(), Qt::Key_Tab);
    EXPECT_EQ(view.nameField()->text(), "Name1");
}

TEST_F(PerformerTest, TheEditorZoomsToItsPictureAndBack) {
    const std::string path = ::testing::TempDir() + "zoom.png";
    QImage picture(560, 420, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(QString::fromStdString(path), "PNG"));
    PlayerViewController& w = openEditor(0);
    w.setGeometry(30, 40, 500, 380);
    const QRect before = w.geometry();
    // Without a picture the zoom is the screen's room.
    const QRect room = w.screen()->availableGeometry();
    EXPECT_EQ(w.imageView()->windowWillUseStandardFrame(w, room), room);

    ASSERT_TRUE(w.imageView()->setWithURL(path));
    EXPECT_EQ(w.imageView()->windowWillUseStandardFrame(w, room), QRect(30, 40, 560, 420));
    // The zoom follows the window system's report of the maximise.
    w.setWindowState(Qt::WindowMaximized);
    (void)test::qWaitFor([&] { return w.geometry() == QRect(30, 40, 560, 420); });
    EXPECT_EQ(w.geometry(), QRect(30, 40, 560, 420)) << "the picture's size at the origin";
    EXPECT_FALSE(w.isMaximized());
    w.setWindowState(Qt::WindowMaximized);
    (void)test::qWaitFor([&] { return w.geometry() == before; });
    EXPECT_EQ(w.geometry(), before) << "a second zoom goes back";
}

}  // namespace
}  // namespace quenbril
