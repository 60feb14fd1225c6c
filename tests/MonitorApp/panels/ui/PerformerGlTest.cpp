// The performer window's history drawn by real OpenGL on an X server (xvfb-run): a mouse click
// in it starts a replay of the bound strip from that fraction of the whole history.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURendererSingle.h"
#include "tests/MonitorApp/panels/ui/PerformerTestEnvironment.h"

namespace quenbril {
namespace {

void click(QWidget& widget, double x) {
    const QPointF at(x, 40);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
}

bool reddish(const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }

class PerformerGlTest : public PerformerTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PerformerTest::SetUp());
        ASSERT_TRUE(levelDisplaysCanDraw()) << "the GL tests need an X server with OpenGL 3.3";
    }
};

TEST_F(PerformerGlTest, AClickAtHalfTheHistoryReplaysTwoAndAHalfMinutesBack) {
    PlayerViewController& w = openChannelView(0, 0);
    ClickableMTKView* view = w.scrollView()->mtkView();
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->width(), w.scrollView()->clipWidth());
    sender.sent.clear();
    click(*view, view->width() / 2.0);
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0], (Dictionary{{"Command", "PlaybackStarted"},
                                          {"CSID", int64_t{1}},
                                          {"DelayInSamples", int32_t{7204864}}}));
    EXPECT_EQ(w.battery()->text().toStdString(), "PLAYING BACK 2 MIN 30 SECS AGO");
    const QImage image = view->grabFramebuffer();
    const int middle = view->width() / 2;
    EXPECT_TRUE(reddish(image.pixelColor(middle, 20)) || reddish(image.pixelColor(middle - 1, 20)));
}

TEST_F(PerformerGlTest, ZoomedInAClickCountsAlongTheWholeDocument) {
    PlayerViewController& w = openChannelView(0, 0);
    w.setZoomValue(2.0f);
    ClickableMTKView* view = w.scrollView()->mtkView();
    ASSERT_NE(view, nullptr);
    // At the live end the left edge of the part in sight is the document's middle.
    ASSERT_DOUBLE_EQ(view->documentOffset(), view->width());
    sender.sent.clear();
    click(*view, 0);
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0]["DelayInSamples"].intValue(), 7204864);
    // The replay cursor is drawn where the click was, at the visible left edge.
    const QImage image = view->grabFramebuffer();
    EXPECT_TRUE(reddish(image.pixelColor(0, 20)) || reddish(image.pixelColor(1, 20)));
    EXPECT_FALSE(reddish(image.pixelColor(view->width() / 2, 20)));
}

// During a replay the history's background is dark red (0.15, 0, 0); back to live, black.
TEST_F(PerformerGlTest, TheHistoryIsDarkRedDuringAReplayAndBlackWhenLive) {
    PlayerViewController& w = openChannelView(0, 0);
    ClickableMTKView* view = w.scrollView()->mtkView();
    ASSERT_NE(view, nullptr);
    // A corner far from the lines and from the replay cursor.
    const QPoint corner(view->width() / 4, 2);
    EXPECT_EQ(view->grabFramebuffer().pixelColor(corner), QColor(0, 0, 0));
    click(*view, view->width() * 0.75);
    const QColor replaying = view->grabFramebuffer().pixelColor(corner);
    EXPECT_NEAR(replaying.red(), 38, 2);
    EXPECT_EQ(replaying.green(), 0);
    EXPECT_EQ(replaying.blue(), 0);
    w.scrollView()->stopPlayback();
    EXPECT_EQ(view->grabFramebuffer().pixelColor(corner), QColor(0, 0, 0));
}

}  // namespace
}  // namespace quenbril
