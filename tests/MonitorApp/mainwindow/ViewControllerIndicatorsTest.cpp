#include <gtest/gtest.h>

#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <cmath>

#include "MonitorApp/controls/FillView.h"
#include "MonitorApp/controls/LongClickButton.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/lockable/LockableViewController.h"
#include "ViewControllerTestEnvironment.h"

namespace quenbril {
namespace {

TEST_F(ViewControllerTest, AlarmsSwitchTheImagesOfTheChatAndResetButtons) {
    QBButton chat(vc->headerView());
    QBButton reset(vc->headerView());
    vc->setChatButton(&chat);
    vc->setResetButton(&reset);
    vc->setChatAlarm(true);
    vc->setResetAlarm(true);
    EXPECT_EQ(chat.currentImageName(), "Chat_red.png");
    EXPECT_EQ(reset.currentImageName(), "Alert_reset_red.png");
    vc->chatButtonClicked();  // reading the chat clears its alarm
    vc->resetClicked();
    EXPECT_EQ(chat.currentImageName(), "Chat_up.png");
    EXPECT_EQ(reset.currentImageName(), "Alert_reset_up.png");
}

TEST_F(ViewControllerTest, AButtonTitleTakesItsColour) {
    QPushButton button;
    ViewController::setButtonTitleFor(&button, "Mute", Qt::red);
    EXPECT_EQ(button.text(), "Mute");
    EXPECT_EQ(button.palette().color(QPalette::ButtonText), QColor(Qt::red));
    ViewController::setButtonTitleFor(nullptr, "Mute", Qt::red);
}

TEST_F(ViewControllerTest, HeaderButtonsReportTheirClicksToTheController) {
    QBButton reset(vc->headerView());
    reset.setTitle("Reset");
    reset.resize(40, 20);
    reset.setDelegate(vc.get());
    LongClickButton solo(vc->headerView());
    solo.resize(40, 20);
    solo.setDelegate(vc.get());
    vc->setSoloClearButton(&solo);
    QTest::mouseClick(&reset, Qt::LeftButton);
    QTest::mouseClick(&solo, Qt::LeftButton);
    QTest::mousePress(&solo, Qt::LeftButton);
    loop_->advance(LongClickButton::kLongClickTime);
    QTest::mouseRelease(&solo, Qt::LeftButton);
    EXPECT_EQ(sender.sent, (std::vector<Dictionary>{Dictionary{{"Command", "ResetWarnings"}},
                                                    Dictionary{{"Command", "Clear"}},
                                                    Dictionary{{"Command", "HardClear"}}}));
}

TEST_F(ViewControllerTest, TheHeaderFlashesOnceInFourSecondsThenShowsThePattern) {
    vc->flashHeader();
    ASSERT_NE(vc->headerBackdrop(), nullptr);
    EXPECT_EQ(vc->headerBackdrop()->color(), QColor(Qt::green));
    loop_->advance(0.5);
    EXPECT_GT(vc->headerBackdrop()->color().redF(), 0.95);
    loop_->advance(0.5);
    EXPECT_GT(vc->headerBackdrop()->color().greenF(), 0.95);
    loop_->advance(1.0);
    vc->flashHeader();  // a second chat message within the flash
    EXPECT_EQ(vc->headerFlashCount(), 1);
    loop_->advance(1.999);
    EXPECT_TRUE(vc->isHeaderFlashing());
    EXPECT_TRUE(vc->headerBackdrop()->patternName().isEmpty());
    loop_->advance(0.001);
    EXPECT_FALSE(vc->isHeaderFlashing());
    EXPECT_EQ(vc->headerBackdrop()->patternName(), "bgroundCont.png");
    vc->flashHeader();
    EXPECT_EQ(vc->headerFlashCount(), 2);
    EXPECT_TRUE(vc->headerBackdrop()->patternName().isEmpty());
}

TEST_F(ViewControllerTest, TheLongClickBarTakesTheUsersTimeWithinZeroToFiveSeconds) {
    EXPECT_EQ(ViewController::longClickBarDurationFor(7.0), 0.75);
    EXPECT_EQ(ViewController::longClickBarDurationFor(-1.0), 0.75);
    EXPECT_EQ(ViewController::longClickBarDurationFor(2.0), 2.0);
    EXPECT_EQ(ViewController::longClickBarDurationFor(5.0), 5.0);
    EXPECT_EQ(ViewController::longClickBarDurationFor(0.0), 0.0);
    EXPECT_EQ(ViewController::longClickBarDurationFor(std::nan("")), 0.75);

    vc->resize(900, 300);
    vc->layout()->activate();
    const int header = vc->headerView()->width();
    ASSERT_EQ(header, 900);
    settings().setLongClickDuration(2.0f);
    NotificationCenter::defaultCenter().post("ChannelClickStarted");
    EXPECT_EQ(vc->longClickBarDuration(), 2.0);
    // It crosses the header in the long-click time: half way at half the time, short of the
    // end until the long click fires, full as it fires, and full until the press ends.
    loop_->advance(1.0);
    EXPECT_NEAR(vc->longClickBarView()->width(), header / 2, 5);
    loop_->advance(0.95);
    EXPECT_LT(vc->longClickBarView()->width(), header);
    EXPECT_TRUE(vc->longClickBarRunning());
    loop_->advance(0.05);
    EXPECT_FALSE(vc->longClickBarRunning());
    EXPECT_EQ(vc->longClickBarView()->width(), header);
    loop_->advance(1.0);
    EXPECT_EQ(vc->longClickBarView()->width(), header);
    NotificationCenter::defaultCenter().post("ChannelClickEnded");
    EXPECT_EQ(vc->longClickBarView()->width(), 0);

    NotificationCenter::defaultCenter().post("ChannelClickStarted");
    loop_->advance(0.5);
    EXPECT_GT(vc->longClickBarView()->width(), 0);
    NotificationCenter::defaultCenter().post("ChannelClickEnded");
    EXPECT_EQ(vc->longClickBarView()->width(), 0);
    loop_->advance(2.0);
    EXPECT_EQ(vc->longClickBarView()->width(), 0);

    settings().setLongClickDuration(-1.0f);  // kept within 0..5 by the settings
    NotificationCenter::defaultCenter().post("ChannelClickStarted");
    EXPECT_EQ(vc->longClickBarDuration(), 0.0);
}

/// The main window with the header's controls and open chat and performer windows.
class LockTest : public ViewControllerTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ViewControllerTest::SetUp());
        QWidget* header = vc->headerView();
        chat = new QBButton(header);
        chat->setTitle("Chat");
        reset = new QBButton(header);
        panel = new QBButton(header);
        solo = new LongClickButton(header);
        tools = new ToolSelector(settings(), header);
        for (QWidget* w : std::initializer_list<QWidget*>{chat, reset, panel, solo, tools}) {
            w->resize(40, 20);
        }
        chat->setDelegate(vc.get());
        vc->setChatButton(chat);
        vc->setResetButton(reset);
        vc->setPanelButton(panel);
        vc->setSoloClearButton(solo);
        vc->setToolSelector(tools);
        strip = new QPushButton("strip");
        QObject::connect(strip, &QPushButton::clicked, [this] { ++stripClicks; });
        vc->scrollView()->setWidget(strip);
        vc->resize(800, 400);
        vc->show();

        destinations["showSplit"] = split;
        vc->showHideChat();
        buildStrips(2);
        settings().setSelectedTool(1);
        destinations["editPlayer"] = performer;
        NotificationCenter::defaultCenter().post("CSClicked", Dictionary{{"index", int64_t{1}}});
        segues.clear();
        observer = NotificationCenter::defaultCenter().addObserver(
            LockNotification::kLocked, [this](const Notification& n) {
                posted.push_back(n.userInfo[LockNotification::kLockOnKey].boolValue().value());
            });
    }

    int covers() const {
        return static_cast<int>(vc->findChildren<LockView*>(Qt::FindDirectChildrenOnly).size());
    }
    bool buttonsEnabled() const {
        for (QWidget* w : std::initializer_list<QWidget*>{chat, reset, panel, solo}) {
            if (!w->isEnabledTo(vc.get())) return false;
        }
        return true;
    }

    QBButton* chat;
    QBButton* reset;
    QBButton* panel;
    LongClickButton* solo;
    ToolSelector* tools;
    QPushButton* strip;
    int stripClicks = 0;
    std::shared_ptr<FakeChatSplit> split = std::make_shared<FakeChatSplit>();
    std::shared_ptr<FakePerformerWindow> performer = std::make_shared<FakePerformerWindow>();
    NotificationObserver observer;
    std::vector<bool> posted;
};

TEST_F(LockTest, LockingTwiceKeepsOneCoverAndUnlockingGivesEverythingBack) {
    vc->lock(true);
    vc->lock(true);
    EXPECT_EQ(covers(), 1);
    ASSERT_NE(vc->lockOverlay(), nullptr);
    EXPECT_TRUE(vc->lockOverlay()->isCovering());
    EXPECT_EQ(vc->lockOverlay()->geometry(), vc->rect());
    EXPECT_EQ(vc->childAt(400, 200), vc->lockOverlay());
    EXPECT_FALSE(buttonsEnabled());
    EXPECT_FALSE(tools->isActive());
    EXPECT_TRUE(settings().isLocked());
    EXPECT_EQ(posted, (std::vector<bool>{true, true}));
    EXPECT_EQ(split->table->locked, true);
    EXPECT_EQ(split->buttons->locked, true);
    EXPECT_EQ(performer->locked, true);
    vc->resize(900, 500);
    EXPECT_EQ(vc->lockOverlay()->geometry(), vc->rect());

    vc->lock(false);
    EXPECT_EQ(covers(), 1);
    EXPECT_FALSE(vc->lockOverlay()->isCovering());
    EXPECT_FALSE(vc->lockOverlay()->isVisible());
    EXPECT_TRUE(buttonsEnabled());
    EXPECT_TRUE(vc->isEnabled());
    EXPECT_TRUE(tools->isActive());
    EXPECT_FALSE(settings().isLocked());
    EXPECT_EQ(posted, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(split->table->locked, false);
    EXPECT_EQ(performer->locked, false);
}

TEST_F(LockTest, WhileLockedClicksOnTheMainViewDoNothing) {
    vc->lock(true);
    QTest::mouseClick(chat, Qt::LeftButton);
    QTest::mouseClick(strip, Qt::LeftButton);
    QTest::keyClick(strip, Qt::Key_Space);
    QTest::mouseClick(tools, Qt::LeftButton, {}, QPoint(35, 5));
    EXPECT_TRUE(segues.empty());
    EXPECT_EQ(stripClicks, 0);
    EXPECT_EQ(settings().selectedTool(), 1);

    vc->lock(false);
    QTest::mouseClick(chat, Qt::LeftButton);
    QTest::mouseClick(strip, Qt::LeftButton);
    QTest::mouseClick(tools, Qt::LeftButton, {}, QPoint(35, 5));
    EXPECT_EQ(segues, std::vector<std::string>{"showSplit"});
    EXPECT_EQ(stripClicks, 1);
    EXPECT_EQ(settings().selectedTool(), 2);
}

TEST_F(LockTest, LockablePanelsFollowTheMainWindowsLock) {
    LockableViewController before(NotificationCenter::defaultCenter(), settings());
    before.viewDidLoad();
    vc->lock(true);
    EXPECT_TRUE(before.isCovered());
    LockableViewController opened(NotificationCenter::defaultCenter(), settings());  // locked
    opened.viewDidLoad();
    EXPECT_TRUE(opened.isCovered());
    vc->lock(false);
    EXPECT_FALSE(before.isCovered());
    EXPECT_FALSE(opened.isCovered());
}

}  // namespace
}  // namespace quenbril
