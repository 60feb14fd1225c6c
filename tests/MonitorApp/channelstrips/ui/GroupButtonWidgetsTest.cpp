// The header's group row and its stand-in buttons (states, clicks), and the one function that
// installs the factories of every strip widget.

#include <QApplication>
#include <QMouseEvent>
#include <QScrollArea>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/PlaceholderGroupButton.h"
#include "MonitorApp/channelstrips/ui/PlaceholderLevelDisplay.h"
#include "MonitorApp/channelstrips/ui/PlaceholderStripView.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/channelstrips/ui/StripWidgetsTest.h"

namespace quenbril::test {
namespace {

class GroupButtonWidgetsTest : public StripWidgetsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripWidgetsTest::SetUp());
        row.resize(800, 40);
        manager().setGroupButtonView(&row);
        for (const char* name : {kGroupClickedNotification, kGroupLongClickedNotification}) {
            observers.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const Notification& n) {
                    posted.push_back(name + std::string(" ") +
                                     std::to_string(n.userInfo["index"].intValue().value_or(-1)));
                }));
        }
    }

    PlaceholderGroupButton& button(size_t group) {
        auto* b = dynamic_cast<PlaceholderGroupButton*>(manager().groupButtons().at(group - 1));
        EXPECT_NE(b, nullptr);
        return *b;
    }

    static void mouse(QWidget& widget, QEvent::Type type) {
        const QPointF at(widget.width() / 2.0, widget.height() / 2.0);
        QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }

    GroupButtonContainerWidget row;
    std::vector<NotificationObserver> observers;
    std::vector<std::string> posted;
};

TEST_F(GroupButtonWidgetsTest, EightButtonsLieSideBySideAcrossTheRow) {
    ASSERT_EQ(manager().groupButtons().size(), 8u);
    for (size_t g = 1; g <= 8; ++g) {
        PlaceholderGroupButton& b = button(g);
        EXPECT_EQ(b.parentWidget(), &row);
        EXPECT_EQ(b.groupID(), static_cast<int32_t>(g));
        EXPECT_EQ(b.geometry(), QRect(static_cast<int>(g - 1) * 100, 0, 100, 40));
        EXPECT_FALSE(b.isHidden());
        EXPECT_EQ(b.shownTitle(), QString("GR %1").arg(g)) << "titles show in capitals";
    }

    row.resize(400, 48);
    manager().updateSizes();
    EXPECT_EQ(button(8).geometry(), QRect(350, 0, 50, 48));
}

TEST_F(GroupButtonWidgetsTest, TheButtonsShowTheServersStates) {
    ASSERT_TRUE(manager().applyGroupStates(Value(Array{0, 1, 2, 0, 0, 0, 0, 0})));
    PlaceholderGroupButton& off = button(1);
    PlaceholderGroupButton& on = button(2);
    PlaceholderGroupButton& hard = button(3);
    EXPECT_EQ(off.state(), 0);
    EXPECT_EQ(on.state(), 1);
    EXPECT_EQ(hard.state(), 2);

    // 100 wide: the face starts 3 points in. Probe the border's left edge, and the face inside;
    // a clear face shows the image button's own face.
    const int border = 3, inside = 20, y = 12;
    QBButton bare(&row);
    bare.resize(off.size());
    const QRgb clear = pixel(bare, inside, y);
    ASSERT_EQ(pixel(bare, border, y), clear);
    EXPECT_EQ(pixel(off, inside, y), clear) << "state 0: a clear face";
    EXPECT_EQ(pixel(off, border, y), clear) << "state 0: no border";
    EXPECT_EQ(pixel(on, border, y), qRgb(0, 255, 0)) << "state 1: a green border";
    EXPECT_EQ(pixel(on, inside, y), clear);
    EXPECT_EQ(on.textColor(), QColor(Qt::green));
    EXPECT_EQ(pixel(hard, inside, y), qRgb(255, 255, 255)) << "state 2: white";
    EXPECT_EQ(hard.textColor(), QColor(Qt::white));

    // Hard to on keeps the white face under the green border and title.
    hard.setState(1);
    EXPECT_EQ(pixel(hard, inside, y), qRgb(255, 255, 255));
    EXPECT_EQ(pixel(hard, border, y), qRgb(0, 255, 0));
    hard.setState(0);
    EXPECT_EQ(pixel(hard, inside, y), clear);
}

TEST_F(GroupButtonWidgetsTest, TheGroupsColourBarAndNameShow) {
    PlaceholderGroupButton& b = button(4);
    b.setColor(Color{0, 0, 1, 1});
    EXPECT_EQ(pixel(b, 50, 40 - 3 - 2), qRgb(0, 0, 255)) << "the bar along the bottom";
    b.setGroupName("Drums");
    EXPECT_EQ(b.shownTitle(), "DRUMS");
    b.setHidden(true);
    EXPECT_TRUE(b.isHidden());
}

TEST_F(GroupButtonWidgetsTest, AClickAndALongClickPostTheirGroup) {
    PlaceholderGroupButton& b = button(5);
    mouse(b, QEvent::MouseButtonPress);
    loop_->advance(0.4);
    mouse(b, QEvent::MouseButtonRelease);
    EXPECT_EQ(posted, std::vector<std::string>{"GroupClicked 5"});

    posted.clear();
    mouse(b, QEvent::MouseButtonPress);
    loop_->advance(PlaceholderGroupButton::kLongClickTime);
    EXPECT_EQ(posted, std::vector<std::string>{"GroupLongClicked 5"}) << "before the release";
    mouse(b, QEvent::MouseButtonRelease);
    EXPECT_EQ(posted.size(), 1u) << "a long click is no click";
}

TEST_F(StripWidgetsTest, OneCallInstallsEveryStripWidgetsFactory) {
    removeStripWidgetFactories();
    EXPECT_FALSE(GroupButtonContainerWidget::hasButtonFactory());
    EXPECT_FALSE(StripAreaWidget::hasLevelDisplayFactory());
    EXPECT_EQ(ChannelStripController(Dictionary{}).view(), nullptr);

    installStripWidgetFactories();
    installStripWidgetFactories();
    ChannelStripController strip(Dictionary{});
    EXPECT_NE(dynamic_cast<PlaceholderStripView*>(strip.view()), nullptr);

    GroupButtonContainerWidget row;
    GroupButtonView* button = row.makeGroupButton("Gr 1", std::nullopt, Rect{0, 0, 50, 30}, 1);
    EXPECT_NE(dynamic_cast<PlaceholderGroupButton*>(button), nullptr);
    EXPECT_EQ(row.findChildren<PlaceholderGroupButton*>().size(), 1);

    QScrollArea scroll;
    auto* area = new StripAreaWidget(scroll);
    area->makePanels(Rect{0, 0, 300, 200});
    PanelRenderer* renderer = area->makeLevelDisplay(Rect{0, 0, 285, 200});
    auto* display = dynamic_cast<PlaceholderLevelDisplay*>(renderer);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->framesPerSecond(), StripAreaWidget::kLevelFramesPerSecond);
    EXPECT_EQ(area->makeLevelDisplay(Rect{}), renderer) << "one level display per area";
    EXPECT_EQ(area->panel(0)->findChildren<PlaceholderLevelDisplay*>().size(), 1);
}

}  // namespace
}  // namespace quenbril::test
