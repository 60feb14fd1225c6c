#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include "MonitorApp/controls/ClickableTextField.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace quenbril {
namespace {

class SwitchesTest : public SettingsTest {
  protected:
    static UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }
    static void click(QWidget& w) { QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(2, 2)); }
    /// A press at a fractional x, as a pointer between pixels gives it.
    static void pressAt(QWidget& w, double x) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, 2.0), w.mapToGlobal(QPointF(x, 2.0)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
    }
};

TEST_F(SwitchesTest, TextFieldTogglesItsDisplayAndItsText) {
    settings().setShowRFA(false);
    ClickableTextField field(settings(), 22, "RF A ON");
    EXPECT_EQ(field.text(), "RF A OFF");  // fixed from the setting
    click(field);
    EXPECT_EQ(field.text(), "RF A ON");
    EXPECT_TRUE(settings().showRFA());
    click(field);
    EXPECT_EQ(field.text(), "RF A OFF");
    EXPECT_FALSE(settings().showRFA());

    ClickableTextField quality(settings(), 42, "Quality OFF OFF");  // every one switches
    EXPECT_EQ(quality.text(), "Quality ON ON");
    click(quality);
    EXPECT_EQ(quality.text(), "Quality OFF OFF");
    EXPECT_FALSE(settings().showQuality());
    EXPECT_TRUE(settings().showAudio());
}

TEST_F(SwitchesTest, TextWithoutOnOrOffSwitchesTheDisplayOnAtEveryClick) {
    settings().setShowAudio(false);
    ClickableTextField field(settings(), 12, "Audio");
    click(field);
    EXPECT_TRUE(settings().showAudio());
    settings().setShowAudio(false);
    click(field);
    EXPECT_TRUE(settings().showAudio());
    EXPECT_EQ(field.text(), "Audio");
}

TEST_F(SwitchesTest, ATagWithoutADisplayShowsOnAndWritesNothing) {
    const Dictionary before = settings().getSettings();
    ClickableTextField field(settings(), 99, "Other OFF");
    EXPECT_EQ(field.text(), "Other ON");
    click(field);
    EXPECT_EQ(field.text(), "Other OFF");
    EXPECT_EQ(settings().getSettings(), before);
    for (int tag : {12, 22, 32, 42, 52, 62}) {
        EXPECT_EQ(ClickableTextField::flagForTag(settings(), tag), true) << tag;
    }
}

TEST_F(SwitchesTest, ToolSelectorSplitsItsWidthInThirdsWithTheMiddleTakingTheBoundaries) {
    settings().setSelectedTool(2);
    ToolSelector selector(settings());
    EXPECT_EQ(settings().selectedTool(), 0);
    EXPECT_EQ(selector.shownTool(), 0);
    selector.resize(90, 20);
    const std::vector<std::pair<double, int>> cases = {{29.9, 0}, {30.0, 1}, {45.0, 1}, {60.0, 1},
                                                       {60.1, 2}, {0.0, 0},  {89.9, 2}};
    for (auto [x, tool] : cases) {
        pressAt(selector, x);
        EXPECT_EQ(settings().selectedTool(), tool) << x;
        EXPECT_EQ(selector.shownTool(), tool) << x;
    }
    EXPECT_EQ(ToolSelector::toolAt(100.0f, 300.0f), 1);
    EXPECT_EQ(ToolSelector::toolAt(200.0f, 300.0f), 1);
}

TEST_F(SwitchesTest, AnInactiveSelectorIgnoresClicksButNotTheMenu) {
    ToolSelector selector(settings());
    selector.resize(90, 20);
    selector.setIsActive(false);
    pressAt(selector, 80.0);
    EXPECT_EQ(settings().selectedTool(), 0);
    selector.selectTool(1);  // the main menu's tool items
    EXPECT_EQ(settings().selectedTool(), 1);
    selector.setIsActive(true);
    pressAt(selector, 80.0);
    EXPECT_EQ(settings().selectedTool(), 2);
}

TEST_F(SwitchesTest, AToolOutsideTheThreeIsStoredAndTheImageStays) {
    ToolSelector selector(settings());
    selector.selectTool(2);
    selector.selectTool(3);
    EXPECT_EQ(settings().selectedTool(), 3);
    EXPECT_EQ(selector.shownTool(), 2);
    selector.selectTool(-1);
    EXPECT_EQ(settings().selectedTool(), -1);
    EXPECT_EQ(selector.shownTool(), 2);
}

}  // namespace
}  // namespace quenbril
