// The quick-message pane: its layout, texts, clicks and lock.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <filesystem>

#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonLayout.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/lockable/LockView.h"
#include "foundation/UserDefaults.h"
#include "resources/QuenbrilResources.h"
#include "tests/MonitorApp/chat/ui/ChatUiTest.h"

namespace quenbril::test {
namespace {

std::vector<QRect> zeroFrames(size_t from, size_t to) {
    return std::vector<QRect>(to - from, QRect(0, 0, 0, 0));
}

TEST(ChatButtonLayout, RoomyAreasTakeFourRowsFillingUpwards) {
    // 400 high at size 0: a quarter (100) beats the preferred 60.
    const auto frames = ChatButtonLayout::paneFrames(QSize(150, 400), 0, 8);
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames[0], QRect(75, 300, 75, 100)) << "slot 0 at the bottom, on the right";
    EXPECT_EQ(frames[1], QRect(0, 300, 75, 100));
    EXPECT_EQ(frames[6], QRect(75, 0, 75, 100)) << "the last row at the top";
    EXPECT_EQ(frames[7], QRect(0, 0, 75, 100));

    // Size 3 prefers no height at all: four rows however low the area is.
    const auto low = ChatButtonLayout::paneFrames(QSize(150, 40), 3, 8);
    EXPECT_EQ(low[0], QRect(75, 30, 75, 10));
    EXPECT_EQ(low[7], QRect(0, 0, 75, 10));
}

TEST(ChatButtonLayout, LowAreasTakeWholePreferredRowsAndPlaceNoMore) {
    // 200 / 60 = 3 rows, stretched to 66 each; slots 6 and 7 find no row.
    const auto frames = ChatButtonLayout::paneFrames(QSize(150, 200), 0, 8);
    EXPECT_EQ(frames[0], QRect(75, 134, 75, 66));
    EXPECT_EQ(frames[3], QRect(0, 68, 75, 66));
    EXPECT_EQ(frames[5], QRect(0, 2, 75, 66));
    EXPECT_EQ(std::vector<QRect>(frames.begin() + 6, frames.end()), zeroFrames(6, 8));

    // Size 2 prefers 20: 70 / 20 = 3 rows of 23.
    const auto size2 = ChatButtonLayout::paneFrames(QSize(150, 70), 2, 8);
    EXPECT_EQ(size2[0], QRect(75, 47, 75, 23));
    EXPECT_EQ(size2[5], QRect(0, 1, 75, 23));
    EXPECT_EQ(size2[6], QRect(0, 0, 0, 0));
}

TEST(ChatButtonLayout, AreasBelowOneRowPlaceNoButton) {
    EXPECT_EQ(ChatButtonLayout::paneFrames(QSize(150, 30), 0, 8), zeroFrames(0, 8));
    EXPECT_EQ(ChatButtonLayout::paneFrames(QSize(0, 0), 0, 8), zeroFrames(0, 8))
        << "before the first layout";
    EXPECT_EQ(ChatButtonLayout::paneFrames(QSize(0, 0), 3, 8), zeroFrames(0, 8));
}

TEST(ChatButtonLayout, TheColumnStartsAtTheBottomWithGaps) {
    const auto frames = ChatButtonLayout::columnFrames(QSize(120, 500), 5);
    ASSERT_EQ(frames.size(), 5u);
    // The gap is above each button.
    EXPECT_EQ(frames[0], QRect(0, 405, 120, 95));
    EXPECT_EQ(frames[4], QRect(0, 5, 120, 95));
    EXPECT_TRUE(ChatButtonLayout::columnFrames(QSize(120, 500), 0).empty());
    EXPECT_EQ(ChatButtonLayout::columnFrames(QSize(120, 3), 1)[0], QRect(0, 3, 120, 0))
        << "no negative height";
}

class ChatButtonPane : public ChatUiTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatUiTest::SetUp());
        pane = std::make_unique<ChatButtonViewController>(sharedChatServices());
        pane->resize(ChatButtonViewController::kShownWidth, 400);
        pane->viewDidLoad();
        pane->show();
        pane->viewDidAppear();
    }
    void TearDown() override {
        pane.reset();
        ChatUiTest::TearDown();
    }
    ChatButton& button(size_t slot) { return *pane->chatButtons().at(slot); }
    /// Presses a button and lets go far away from it: still a click.
    void click(size_t slot) {
        QTest::mousePress(&button(slot), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&button(slot), Qt::LeftButton, {}, QPoint(500, -300));
    }

    std::unique_ptr<ChatButtonViewController> pane;
    NotificationRecorder sent{ChatNotification::kChatMessage};
};

TEST_F(ChatButtonPane, EightButtonsLabelledF8ToF1WithTheirTexts) {
    defaults().setObject(Value("Coffee"), "CB 1");
    pane->viewDidAppear();  // the buttons are made anew each time the pane appears
    ASSERT_EQ(pane->chatButtons().size(), 8u);
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(button(slot).myTag(), slot);
        EXPECT_EQ(textOf(button(slot).functionButton()), "F" + std::to_string(8 - slot));
    }
    EXPECT_EQ(button(0).text(), "(No channel selected)");
    EXPECT_EQ(button(1).text(), "Coffee");
    EXPECT_EQ(button(2).text(), "Custom message 6");
    EXPECT_EQ(button(7).text(), "Custom message 1");

    // Saved texts and the channel clicked last come in with "ChatMessagesChanged".
    defaults().setObject(Value("Tea"), "CB 2");
    ChannelStripManager::sharedInstance().setPreviouslyClickedChannel("Lead(3)");
    NotificationCenter::defaultCenter().post(ChatNotification::kChatMessagesChanged);
    EXPECT_EQ(button(0).text(), "Lead(3)");
    EXPECT_EQ(button(2).text(), "Tea");
    pane->updateButtonText("<b>Bass</b>(2)");
    EXPECT_EQ(button(0).text(), "<b>Bass</b>(2)");
    EXPECT_EQ(button(0).title()->textFormat(), Qt::PlainText) << "strip names are never markup";

    // Once the pane is gone from screen it no longer follows.
    pane->viewWillDisappear();
    defaults().setObject(Value("Water"), "CB 2");
    NotificationCenter::defaultCenter().post(ChatNotification::kChatMessagesChanged);
    EXPECT_EQ(button(2).text(), "Tea");
}

TEST_F(ChatButtonPane, TheButtonsFillThePaneAndFollowItsSize) {
    EXPECT_EQ(pane->buttonView()->geometry(), pane->rect());
    EXPECT_EQ(button(0).geometry(), QRect(75, 300, 75, 100));
    EXPECT_EQ(button(7).geometry(), QRect(0, 0, 75, 100));

    // Too low for a row: nothing placed, nothing divided by zero.
    pane->resize(ChatButtonViewController::kShownWidth, 30);
    for (ChatButton* b : pane->chatButtons()) EXPECT_EQ(b->geometry(), QRect(0, 0, 0, 0));
}

TEST_F(ChatButtonPane, NarrowButtonsTakeTheSmallFaceAndCentreTheirText) {
    ChatButton wide(sharedChatServices());
    wide.setText("Hello");
    wide.resize(120, 60);
    wide.updatePositions();
    EXPECT_EQ(wide.title()->font().pointSize(), 15);
    const QRect title = wide.title()->geometry();
    EXPECT_EQ(title.left(), 10);
    EXPECT_EQ(title.width(), 100);
    EXPECT_NEAR(title.center().y(), 30, 1) << "centred vertically";
    EXPECT_EQ(wide.functionButton()->geometry(), QRect(95, 5, 20, 20)) << "top right corner";

    wide.resize(119, 60);
    wide.updatePositions();
    EXPECT_EQ(wide.title()->font().pointSize(), 10);

    // The pane's buttons (75 wide) all use it.
    EXPECT_EQ(button(3).title()->font().pointSize(), 10);

    wide.setText("");
    wide.updatePositions();
    EXPECT_EQ(wide.title()->height(), 5);
}

// A strip name wider than the button, or a text longer than the button's rows, ends in an
// ellipsis: the face never shows a word cut at its edges ("/lercutio(5").
TEST_F(ChatButtonPane, TextsThatDoNotFitAreCutWithAnEllipsisNotClipped) {
    ChatButton button(sharedChatServices());
    button.resize(75, 40);
    for (const std::string& text :
         {std::string("Mercutio(5)"), std::string("Romeo(3), Juliet(4), Nurse(9), Tybalt(11)")}) {
        button.setText(text);
        EXPECT_EQ(button.text(), text) << "the whole text is sent";
        const QLabel& title = *button.title();
        const QString shown = title.text();
        EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
        EXPECT_EQ(shown.front(), QChar(text.front())) << shown.toStdString();
        EXPECT_GE(title.x(), 0);
        EXPECT_LE(title.geometry().right(), button.width() - 1);
        EXPECT_GE(title.y(), 0);
        EXPECT_LE(title.geometry().bottom(), button.height() - 1);
        const QFontMetrics metrics(title.font());
        for (const QString& line : shown.split('\n')) {
            EXPECT_LE(metrics.horizontalAdvance(line), title.width()) << line.toStdString();
        }
    }
    button.setText("Go");
    EXPECT_EQ(button.title()->text(), "Go") << "a text that fits shows whole";
}

TEST_F(ChatButtonPane, TheFaceShowsThePressedImageWhileDown) {
    initQuenbrilResources();
    ASSERT_FALSE(ControlImage(QStringLiteral("Send_down.png")).isNull());
    ChatButton fresh(sharedChatServices());  // made after the images are registered
    fresh.resize(120, 60);
    fresh.show();
    const QImage up = fresh.grab().toImage();
    QTest::mousePress(&fresh, Qt::LeftButton, {}, QPoint(5, 5));
    const QImage down = fresh.grab().toImage();
    QTest::mouseRelease(&fresh, Qt::LeftButton, {}, QPoint(5, 5));
    // Away from the texts: the middle of the left edge.
    EXPECT_NE(up.pixel(3, 30), down.pixel(3, 30));
    EXPECT_EQ(fresh.grab().toImage().pixel(3, 30), up.pixel(3, 30)) << "released again";
}

TEST_F(ChatButtonPane, AClickSendsTheTextToThePopUpsRecipient) {
    click(0);
    ASSERT_EQ(sent.posted.size(), 1u);
    expectSixKeys(sent.posted[0], "(No channel selected)", "All");

    QComboBox target;
    target.addItems({"All", "bob"});
    target.setCurrentIndex(1);
    pane->setChatTargetRef(&target);
    click(5);
    ASSERT_EQ(sent.posted.size(), 2u);
    expectSixKeys(sent.posted[1], "Custom message 3", "bob");
    EXPECT_NE(sent.posted[0]["messageId"], sent.posted[1]["messageId"]) << "a fresh id each";

    // A pop-up with nothing selected sends to everyone.
    target.clear();
    click(5);
    ASSERT_EQ(sent.posted.size(), 3u);
    EXPECT_EQ(sent.posted[2]["recipient"].optionalString(), "All");
    pane->setChatTargetRef(nullptr);

    // A release without a press on the button is no click.
    QTest::mouseRelease(&button(1), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(sent.posted.size(), 3u);
}

TEST_F(ChatButtonPane, AnEditedTextIsStoredForItsSlotAndWrittenOut) {
    button(3).setText("Mics up");
    button(3).title()->setTextInteractionFlags(Qt::TextEditorInteraction);
    button(3).textEdited();
    EXPECT_EQ(button(3).title()->textInteractionFlags(), Qt::NoTextInteraction);
    // Another store over the same file sees it: it was written, not only kept.
    const std::filesystem::path file = defaults().path();
    UserDefaults reread(file.parent_path().string(), file.stem().string());
    EXPECT_EQ(reread.stringForKey("CB 3"), "Mics up");
    button(3).readUserData();
    EXPECT_EQ(button(3).text(), "Mics up");
}

TEST_F(ChatButtonPane, TheLockHidesAndCoversUnlockShowsAll) {
    pane->lock(true);
    EXPECT_TRUE(pane->lockView()->isCovering());
    for (ChatButton* b : pane->chatButtons()) EXPECT_TRUE(b->isHidden());
    // A layout while locked keeps them hidden; clicks reach nothing.
    pane->resize(ChatButtonViewController::kShownWidth, 300);
    for (ChatButton* b : pane->chatButtons()) EXPECT_TRUE(b->isHidden());
    click(1);
    EXPECT_TRUE(sent.posted.empty());

    pane->lock(false);
    EXPECT_FALSE(pane->lockView()->isCovering());
    for (ChatButton* b : pane->chatButtons()) EXPECT_TRUE(b->isVisible());
    click(1);
    EXPECT_EQ(sent.posted.size(), 1u);

    // Shown while the interface is locked: covered at once.
    settings().setIsLocked(true);
    pane->viewWillDisappear();
    pane->viewDidAppear();
    EXPECT_TRUE(pane->lockView()->isCovering());
    for (ChatButton* b : pane->chatButtons()) EXPECT_TRUE(b->isHidden());
}

}  // namespace
}  // namespace quenbril::test
