// The history's sizing and scrolling on the offscreen platform (the black pane stands in for
// the display there; the document keeps its meaning).

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>

#include "MonitorApp/panels/ui/EKGScrollView.h"
#include "foundation/Log.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

namespace quenbril {
namespace {

class EKGScrollViewTest : public testing::Test {
  protected:
    void SetUp() override {
        history.resize(1500, 200);
        history.show();
        QApplication::processEvents();
    }
    EKGScrollView history{sharedPanelServices()};
};

TEST_F(EKGScrollViewTest, AtZoomOneTheWholeHistoryIsInSightAndNothingScrolls) {
    history.updateScrollContent(1.0f);
    EXPECT_EQ(history.clipWidth(), 1500);
    EXPECT_DOUBLE_EQ(history.documentWidth(), 1500);
    EXPECT_EQ(history.scrollBar()->maximum(), 0);
    history.scrollTo(700);
    EXPECT_EQ(history.visibleRect().x(), 0);
    EXPECT_TRUE(history.lastColumnVisible());
    EXPECT_FLOAT_EQ(history.fractionAt(750), 0.5f);
}

TEST_F(EKGScrollViewTest, TheDocumentIsCutAt8192PointsAndGoToEndShowsItsRightEdge) {
    testing::internal::CaptureStderr();
    history.updateScrollContent(6.7f);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Wid 8192.000000"), std::string::npos) << log;
    EXPECT_FLOAT_EQ(history.zoomValue(), 6.7f);
    EXPECT_DOUBLE_EQ(history.documentWidth(), 8192);
    EXPECT_EQ(history.scrollBar()->maximum(), 8192 - 1500);
    EXPECT_FALSE(history.lastColumnVisible());
    history.goToEnd();
    EXPECT_DOUBLE_EQ(history.visibleRect().right(), 8192);
    EXPECT_TRUE(history.lastColumnVisible());
    // A click counts as a fraction of the whole document, wherever it is scrolled.
    EXPECT_FLOAT_EQ(history.fractionAt(1500), 1.0f);
    history.scrollTo(4096 - 750);
    EXPECT_FLOAT_EQ(history.fractionAt(750), 0.5f);
}

TEST_F(EKGScrollViewTest, ResizingKeepsTheDocumentTheVisibleWidthTimesTheZoom) {
    history.updateScrollContent(2.0f);
    int calls = 0;
    history.setBoundsChangedHandler([&] { ++calls; });
    history.resize(800, 200);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(history.documentWidth(), 1600);
    EXPECT_EQ(history.scrollBar()->maximum(), 800);
    EXPECT_GT(calls, 0);
}

TEST_F(EKGScrollViewTest, AScrollWritesADiagnosticLineAndChangesNothingMore) {
    history.updateScrollContent(2.0f);
    const LogLevel level = logLevel();
    setLogLevel(LogLevel::Debug);
    testing::internal::CaptureStderr();
    history.scrollBar()->setValue(300);
    const std::string log = testing::internal::GetCapturedStderr();
    setLogLevel(level);
    EXPECT_NE(log.find("History bounds changed: x 300"), std::string::npos) << log;
    EXPECT_EQ(history.visibleRect().x(), 300);
    EXPECT_DOUBLE_EQ(history.documentWidth(), 3000);
    EXPECT_FLOAT_EQ(history.zoomValue(), 2.0f);
}

}  // namespace
}  // namespace quenbril
