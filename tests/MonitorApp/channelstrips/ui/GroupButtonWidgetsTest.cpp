// The header's group row and its buttons (layout, the server's states), and the one function
// that installs the factories of every strip widget.

#include <QLabel>
#include <QScrollArea>

#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/views/BlankLevelDisplay.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "MonitorApp/views/GroupButton.h"
#include "tests/MonitorApp/channelstrips/ui/StripWidgetsTest.h"

namespace quenbril::test {
namespace {

class GroupButtonWidgetsTest : public StripWidgetsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripWidgetsTest::SetUp());
        row.resize(800, 40);
        manager().setGroupButtonView(&row);
    }

    GroupButton& button(size_t group) {
        auto* b = dynamic_cast<GroupButton*>(manager().groupButtons().at(group - 1));
        EXPECT_NE(b, nullptr);
        return *b;
    }

    GroupButtonContainerWidget row;
};

TEST_F(GroupButtonWidgetsTest, EightButtonsLieSideBySideAcrossTheRow) {
    ASSERT_EQ(manager().groupButtons().size(), 8u);
    for (size_t g = 1; g <= 8; ++g) {
        GroupButton& b = button(g);
        EXPECT_EQ(b.parentWidget(), &row);
        EXPECT_EQ(b.groupID(), static_cast<int32_t>(g));
        EXPECT_EQ(b.geometry(), QRect(static_cast<int>(g - 1) * 100, 0, 100, 40));
        EXPECT_FALSE(b.isHidden());
        EXPECT_EQ(b.myButton().shownTitle(), QString("GR %1").arg(g)) << "titles show in capitals";
        EXPECT_GT(b.myButton().field()->height(), 20) << "a title two thirds of the row high";
    }

    row.resize(400, 48);
    manager().updateSizes();
    EXPECT_EQ(button(8).geometry(), QRect(350, 0, 50, 48));
}

TEST_F(GroupButtonWidgetsTest, TheButtonsTakeTheServersStates) {
    ASSERT_TRUE(manager().applyGroupStates(Value(Array{0, 1, 2, 0, 0, 0, 0, 0})));
    EXPECT_EQ(button(1).state(), 0);
    EXPECT_EQ(button(2).state(), 1);
    EXPECT_EQ(button(2).myButton().textColor(), QColor(Qt::green));
    EXPECT_EQ(button(3).state(), 2);
    EXPECT_EQ(button(3).myButton().faceBackground(), QColor(Qt::white));
}

TEST_F(StripWidgetsTest, OneCallInstallsEveryStripWidgetsFactory) {
    removeStripWidgetFactories();
    EXPECT_FALSE(GroupButtonContainerWidget::hasButtonFactory());
    EXPECT_FALSE(StripAreaWidget::hasLevelDisplayFactory());
    EXPECT_EQ(ChannelStripController(manager(), Dictionary{}).view(), nullptr);

    installStripWidgetFactories(stripViewServices(), ChatManager::uuid);
    installStripWidgetFactories(stripViewServices(), ChatManager::uuid);
    ChannelStripController strip(manager(), Dictionary{});
    EXPECT_NE(dynamic_cast<ChannelStrip*>(strip.view()), nullptr);

    GroupButtonContainerWidget row;
    GroupButtonView* button = row.makeGroupButton("Gr 1", std::nullopt, Rect{0, 0, 50, 30}, 1);
    EXPECT_NE(dynamic_cast<GroupButton*>(button), nullptr);
    EXPECT_EQ(row.findChildren<GroupButton*>().size(), 1);

    QScrollArea scroll;
    auto* area = new StripAreaWidget(scroll);
    area->makePanels(Rect{0, 0, 300, 200});
    PanelRenderer* renderer = area->makeLevelDisplay(Rect{0, 0, 285, 200});
    // Offscreen there is no OpenGL: the blank display.
    auto* display = dynamic_cast<BlankLevelDisplay*>(area->levelDisplay());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(renderer, &display->renderer());
    EXPECT_EQ(display->framesPerSecond(), StripAreaWidget::kLevelFramesPerSecond);
    EXPECT_EQ(area->makeLevelDisplay(Rect{}), renderer) << "one level display per area";
    EXPECT_EQ(area->panel(0)->children().count(display), 1);
}

}  // namespace
}  // namespace quenbril::test
