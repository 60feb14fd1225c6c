// The page notifier: its flashing colours, its time-outs, its size and label layout, a click,
// and one window for every page that comes while it is shown.

#include <QFontMetrics>
#include <QLabel>
#include <QTest>

#include "MonitorApp/chat/ui/ChatNotifierViewController.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"

namespace quenbril::test {
namespace {

class ChatNotifierTest : public StripTest {
  protected:
    void SetUp() override {
        StripTest::SetUp();
        notifier =
            std::make_shared<ChatNotifierViewController>(settings(), ColorHelper::sharedInstance());
    }
    void TearDown() override {
        notifier.reset();
        StripTest::TearDown();
    }
    /// The colour the window shows in its corner (no label there).
    QRgb corner() { return notifier->grab().toImage().pixel(2, notifier->height() - 3); }
    static QRgb chatColor(int index) {
        return toQColor(*ColorHelper::colorForChatGroup(index)).rgb();
    }

    std::shared_ptr<ChatNotifierViewController> notifier;
};

TEST_F(ChatNotifierTest, FlashesGreenThenTheSendersColourAndRedEveryHalfSecond) {
    ColorHelper::sharedInstance().setChatColors(Dictionary{{"bob", 2}});
    notifier->setMessage("09:41: wake up");
    notifier->setSender("bob");
    notifier->show();
    EXPECT_TRUE(notifier->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(corner(), QColor(Qt::green).rgb());
    EXPECT_EQ(notifier->textLabel()->text(), "09:41: wake up");
    EXPECT_EQ(notifier->senderField()->text(), "bob");

    const std::vector<QRgb> expected = {chatColor(2), QColor(Qt::red).rgb(), chatColor(2),
                                        QColor(Qt::red).rgb()};
    for (QRgb colour : expected) {
        loop_->advance(0.5);
        EXPECT_EQ(corner(), colour);
    }
}

TEST_F(ChatNotifierTest, WithoutATimeOutItStaysUntilClicked) {
    settings().setFlashTimeout(0);
    notifier->show();
    EXPECT_EQ(notifier->senderField()->text(), "Sender") << "no sender: the field keeps its text";
    loop_->advance(600.0);
    EXPECT_TRUE(notifier->isVisible());
    EXPECT_FALSE(notifier->closeTimerRunning());
    QTest::mouseClick(notifier.get(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(notifier->isVisible());
}

TEST_F(ChatNotifierTest, AFiveSecondTimeOutClosesItAndItsFrameIsSaved) {
    settings().setFlashTimeout(5);
    notifier->show();
    notifier->setGeometry(120, 140, 420, 240);
    const QRect frame = notifier->geometry();
    loop_->advance(4.9);
    EXPECT_TRUE(notifier->isVisible());
    loop_->advance(0.2);
    EXPECT_FALSE(notifier->isVisible());
    EXPECT_EQ(defaults().stringForKey("chatNotifierWindowAutoSave2"),
              WindowFrameAutosave::frameText(frame));
    const QRgb last = corner();
    loop_->advance(1.0);
    EXPECT_EQ(corner(), last) << "the flashing stopped";

    // Opened again, it takes the saved frame.
    auto next =
        std::make_shared<ChatNotifierViewController>(settings(), ColorHelper::sharedInstance());
    next->show();
    EXPECT_EQ(next->size(), frame.size());
}

TEST_F(ChatNotifierTest, HeldAtItsMinimumAndTheLabelIsCentredBetweenItsMargins) {
    notifier->show();
    notifier->resize(200, 100);
    EXPECT_EQ(notifier->size(), QSize(300, 150));

    notifier->resize(400, 300);
    QLabel* label = notifier->textLabel();
    notifier->setTextLabel("");
    notifier->screenResize();
    EXPECT_EQ(label->geometry(), QRect(15, 132, 370, 36)) << "no text: 36 high";

    std::string longText;
    for (int i = 0; i < 20; ++i) longText += "places please ";
    notifier->setTextLabel("<b>" + longText + "</b>");
    notifier->screenResize();
    EXPECT_EQ(label->text(), QString::fromStdString("<b>" + longText + "</b>"));
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    const QRect wrapped = label->geometry();
    const int line = QFontMetrics(label->font()).height();
    EXPECT_EQ(wrapped.x(), 15);
    EXPECT_EQ(wrapped.width(), 370);
    EXPECT_GE(wrapped.height(), 36 + 2 * line) << "the text wraps and the label grows";
    EXPECT_NEAR(wrapped.top(), 300 - wrapped.bottom() - 1, 1)
        << "as far from the top as the bottom";

    // Resizing the window lays the label out again.
    notifier->resize(600, 300);
    EXPECT_EQ(label->width(), 570);
    EXPECT_LT(label->height(), wrapped.height());
}

/// The application's one-notifier segue under the main window controller.
class OneNotifier : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        settings().setChatUsername("me");
        vc->setSegueFactory([this](const std::string& id) -> std::shared_ptr<SegueDestination> {
            if (id != "showChatNotifier") return nullptr;
            auto made = ChatNotifierViewController::shownOrNew(shown, settings(),
                                                               ColorHelper::sharedInstance());
            made_.push_back(made);
            return made;
        });
    }
    void TearDown() override {
        made_.clear();
        ViewControllerTest::TearDown();
    }
    void page(const char* sender, const char* text) {
        dispatch(
            "ChatMessageFromServer",
            Dictionary{{"message", text}, {"sender", sender}, {"type", 5}, {"recipient", "All"}});
    }

    std::weak_ptr<ChatNotifierViewController> shown;
    std::vector<std::shared_ptr<ChatNotifierViewController>> made_;
};

TEST_F(OneNotifier, ASecondPageUpdatesTheShownWindowAndRestartsItsTimeOut) {
    settings().setFlashTimeout(5);
    page("bob", "wake up");
    std::shared_ptr<ChatNotifierViewController> first = shown.lock();
    ASSERT_TRUE(first && first->isVisible());
    EXPECT_EQ(first->textLabel()->text(), "09:41: wake up");

    loop_->advance(3.0);
    page("eve", "again");
    EXPECT_EQ(shown.lock(), first) << "no second window";
    EXPECT_EQ(vc->cnVC(), first);
    EXPECT_EQ(first->textLabel()->text(), "09:41: again");
    EXPECT_EQ(first->senderField()->text(), "eve");
    EXPECT_EQ(first->sender(), "eve");

    loop_->advance(3.0);
    EXPECT_TRUE(first->isVisible()) << "the time-out started again with the second page";
    loop_->advance(2.1);
    EXPECT_FALSE(first->isVisible());

    page("bob", "later");
    ASSERT_TRUE(shown.lock());
    EXPECT_NE(shown.lock(), first) << "once closed, a page opens a new one";
    EXPECT_TRUE(shown.lock()->isVisible());

    // The learnt closing event reaches the one on screen.
    defaults().setObject(Array{0, 0x90, 20, 1}, "CB MIDI 20");
    NotificationCenter::defaultCenter().post(
        "MIDIEventReceived",
        Dictionary{{"channel", 0}, {"command", 0x90}, {"byte1", 20}, {"byte2", 1}});
    EXPECT_FALSE(shown.lock()->isVisible());
}

}  // namespace
}  // namespace quenbril::test
