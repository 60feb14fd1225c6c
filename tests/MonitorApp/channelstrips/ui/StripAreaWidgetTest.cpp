// The strip area inside the main window's scroll view: the strips of a "Channels" list land at
// the manager's cells, a resize lays them out anew, the panels switch with the level display,
// and the strip views outlive the window that showed them.

#include <QScrollArea>
#include <QScrollBar>
#include <memory>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/views/BlankLevelDisplay.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "tests/MonitorApp/channelstrips/ui/StripWidgetsTest.h"

namespace quenbril::test {
namespace {

class StripAreaWidgetTest : public StripWidgetsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripWidgetsTest::SetUp());
        vc = std::make_unique<ViewController>(sharedMainWindowServices());
        vc->resize(1400, 700);
        vc->show();
        area = dynamic_cast<StripAreaWidget*>(scroll().widget());
        ASSERT_NE(area, nullptr) << "the scroll view holds the strip area";
    }

    void TearDown() override {
        vc.reset();
        StripWidgetsTest::TearDown();
    }

    QScrollArea& scroll() const { return *vc->scrollView(); }

    /// Gives the scroll view's viewport `width` points and lays the window out for it.
    void setViewportWidth(int width) {
        const int frame = scroll().width() - scroll().viewport()->width();
        scroll().setFixedWidth(width + frame);
        ASSERT_EQ(scroll().viewport()->width(), width);
        vc->screenResize();
    }

    /// The server's "Channels" message with strips 1..n (those after `inA` in panel B).
    void sendChannels(int n, int inA) {
        Array channels;
        for (int i = 1; i <= n; ++i) channels.push_back(strip(i, i <= inA ? "A" : "B"));
        vc->messageReceivedFromServer(
            Value(Dictionary{{"Command", "Channels"}, {"Value", channels}}));
        loop_->advance(ViewController::kLayoutDelay);
    }

    static ChannelStrip& viewAt(size_t position) {
        auto* view = dynamic_cast<ChannelStrip*>(manager().controllers().at(position)->view());
        EXPECT_NE(view, nullptr);
        return *view;
    }

    static QRect cell(int n, int columns) {
        return QRect((n % columns) * 128, (n / columns) * 128, 128, 128);
    }

    std::unique_ptr<ViewController> vc;
    StripAreaWidget* area = nullptr;
};

TEST_F(StripAreaWidgetTest, SixteenStripsLandAtTheirCellsOnAnEightColumnGrid) {
    ASSERT_NO_FATAL_FAILURE(setViewportWidth(8 * 128 + 40));
    sendChannels(16, 16);
    ASSERT_EQ(settings().columns(), 8);
    ASSERT_EQ(manager().superView(), area);
    ASSERT_TRUE(area->hasPanels());

    for (size_t i = 0; i < 16; ++i) {
        ChannelStrip& view = viewAt(i);
        EXPECT_EQ(view.parentWidget(), area->panel(0)) << "strip " << i;
        EXPECT_EQ(view.geometry(), cell(static_cast<int>(i), 8)) << "strip " << i;
        EXPECT_TRUE(view.isVisibleTo(vc.get())) << "strip " << i;
        EXPECT_EQ(view.title(), QString("S%1").arg(i + 1));
    }

    // Panels and content fill the visible height; the level display leaves the scroller's room.
    const QRect viewport = scroll().viewport()->rect();
    const int width = scroll().contentsRect().width();
    EXPECT_EQ(area->panel(0)->geometry(), QRect(0, 0, width, viewport.height()));
    EXPECT_EQ(area->size(), area->panel(0)->size());
    ASSERT_NE(area->levelDisplay(), nullptr);
    EXPECT_EQ(area->levelDisplay()->view().geometry(),
              QRect(0, 0, width - static_cast<int>(kScrollerWidth), viewport.height()));
    EXPECT_EQ(area->levelDisplay()->view().parentWidget(), area->panel(0));

    // What the window shows: the tenth strip's cell (row 1, column 1) is a strip's grey.
    const QImage shown = scroll().viewport()->grab().toImage();
    EXPECT_EQ(shown.pixelColor(128 + 64, 128 + 64).rgba(), rgb(ChannelStrip::backgroundColor()));
}

TEST_F(StripAreaWidgetTest, AResizeLaysTheStripsOutAnewAfterTheLayoutDelay) {
    ASSERT_NO_FATAL_FAILURE(setViewportWidth(8 * 128 + 40));
    sendChannels(16, 16);
    scroll().verticalScrollBar()->setValue(0);

    ASSERT_NO_FATAL_FAILURE(setViewportWidth(4 * 128 + 10));
    EXPECT_EQ(settings().columns(), 4);
    EXPECT_EQ(viewAt(5).geometry(), cell(5, 8)) << "the strips wait for the layout delay";
    loop_->advance(ViewController::kLayoutDelay);

    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(viewAt(i).geometry(), cell(static_cast<int>(i), 4)) << "strip " << i;
    }
    // Four full rows and the spare one: taller than the window, so the strip area scrolls.
    const int h = 5 * 128;
    ASSERT_GT(h, scroll().viewport()->height());
    EXPECT_EQ(area->panel(0)->height(), h);
    EXPECT_EQ(area->height(), h);
    EXPECT_EQ(area->levelDisplay()->view().height(), h);
    EXPECT_EQ(scroll().verticalScrollBar()->maximum(), h - scroll().viewport()->height());

    scroll().verticalScrollBar()->setValue(100);
    vc->screenResize();
    EXPECT_EQ(scroll().verticalScrollBar()->value(), 0) << "a resize shows the top";
}

TEST_F(StripAreaWidgetTest, ThePanelSwitchShowsTheOtherStripsWithTheLevelDisplay) {
    ASSERT_NO_FATAL_FAILURE(setViewportWidth(8 * 128 + 40));
    sendChannels(12, 9);
    for (size_t i = 9; i < 12; ++i) {
        EXPECT_EQ(viewAt(i).parentWidget(), area->panel(1));
        EXPECT_EQ(viewAt(i).geometry(), cell(static_cast<int>(i) - 9, 8)) << "B counts apart";
        EXPECT_FALSE(viewAt(i).isVisibleTo(vc.get()));
    }
    auto* display = dynamic_cast<BlankLevelDisplay*>(area->levelDisplay());
    ASSERT_NE(display, nullptr) << "offscreen, the blank display";
    EXPECT_EQ(display->levelMap().levelCount(), 9);

    manager().setPanelIndex(1);
    EXPECT_EQ(area->documentPanel(), 1);
    EXPECT_TRUE(viewAt(10).isVisibleTo(vc.get()));
    EXPECT_FALSE(viewAt(0).isVisibleTo(vc.get()));
    EXPECT_EQ(display->parentWidget(), area->panel(1));
    EXPECT_EQ(display->levelMap().panelIndex(), 1);
    EXPECT_EQ(display->levelMap().levelCount(), 3);
    EXPECT_EQ(display->levelMap().panelMap()[0], 9);

    // Clicks pass the level display to the strips below it.
    EXPECT_EQ(area->panel(1)->childAt(cell(1, 8).center()), &viewAt(10));
}

TEST_F(StripAreaWidgetTest, AnActiveStripBelowTheWindowIsScrolledIntoView) {
    ASSERT_NO_FATAL_FAILURE(setViewportWidth(8 * 128 + 40));
    settings().setSoloOn(true);
    settings().setSelectedTool(0);
    sendChannels(48, 48);
    QScrollBar& bar = *scroll().verticalScrollBar();
    ASSERT_EQ(bar.value(), 0);
    const QRect last = cell(47, 8);
    ASSERT_GT(last.bottom(), scroll().viewport()->height()) << "the last row starts hidden";

    vc->messageReceivedFromServer(
        Value(Dictionary{{"Command", "ActiveChannels"}, {"Value", Array{int64_t{48}}}}));
    EXPECT_GT(bar.value(), 0);
    EXPECT_LE(last.bottom() - bar.value(), scroll().viewport()->height()) << "the cell shows";

    // A strip of the hidden panel moves nothing.
    bar.setValue(0);
    area->scrollStripToVisible(viewAt(47));
    EXPECT_GT(bar.value(), 0);
    bar.setValue(0);
    manager().setPanelIndex(1);
    area->scrollStripToVisible(viewAt(47));
    EXPECT_EQ(bar.value(), 0);
}

TEST_F(StripAreaWidgetTest, ANewListReplacesTheStripViewsInThePanels) {
    sendChannels(6, 6);
    sendChannels(2, 2);
    int strips = 0;
    for (QObject* child : area->panel(0)->children()) {
        if (dynamic_cast<ChannelStripView*>(child)) ++strips;
    }
    EXPECT_EQ(strips, 2);
}

// The strip views belong to their controllers: the window going first hands them back rather
// than deleting them.
TEST_F(StripAreaWidgetTest, StripViewsOutliveTheWindowThatShowedThem) {
    sendChannels(3, 2);
    ChannelStrip& a = viewAt(0);
    ChannelStrip& b = viewAt(2);
    vc.reset();
    EXPECT_EQ(a.parentWidget(), nullptr);
    EXPECT_EQ(b.parentWidget(), nullptr);
    a.setTitle("still here");
    EXPECT_EQ(a.title(), "still here");
}

// The manager outlives the window: a window that goes takes back its strip area (with the level
// display) and its group buttons, so a list after it touches no dead widget, and the next window
// gets the strips and buttons of its own.
TEST_F(StripAreaWidgetTest, AWindowThatGoesTakesItsStripAreaAndGroupButtonsBack) {
    sendChannels(3, 3);
    manager().setGroupButtonView(vc->groupButtonContainer());
    ASSERT_EQ(manager().superView(), area);
    ASSERT_FALSE(manager().groupButtons().empty());

    vc.reset();
    EXPECT_EQ(manager().superView(), nullptr);
    EXPECT_EQ(manager().renderer(), nullptr);
    EXPECT_TRUE(manager().groupButtons().empty());
    manager().initFromProperyArray(Array{strip(1), strip(2, "B")});
    manager().updateChannels();
    manager().updateSizes();
    manager().setPanelIndex(1);
    manager().setKeyboardFocus();

    vc = std::make_unique<ViewController>(sharedMainWindowServices());
    vc->show();
    auto* next = dynamic_cast<StripAreaWidget*>(scroll().widget());
    sendChannels(4, 4);
    manager().setGroupButtonView(vc->groupButtonContainer());
    EXPECT_EQ(manager().superView(), next);
    EXPECT_NE(manager().renderer(), nullptr);
    EXPECT_EQ(viewAt(3).parentWidget(), next->panel(0));
    EXPECT_EQ(manager().groupButtons().size(), 8u);
}

TEST(StripAreaWidgetAlone, ScrollsAndAnswersBeforeItHasPanels) {
    QScrollArea scroll;
    scroll.resize(500, 300);
    auto* area = new StripAreaWidget(scroll);
    EXPECT_EQ(scroll.widget(), area);
    EXPECT_FALSE(area->hasPanels());
    EXPECT_EQ(area->panelFrame(1), Rect{});
    area->scrollToTop();
    area->setDocumentPanel(1);
    EXPECT_EQ(area->makeLevelDisplay(Rect{0, 0, 10, 10}), nullptr) << "no panel to put it in";
}

}  // namespace
}  // namespace quenbril::test
