// The preferences window: its look, which pane saves when (tab switch, closing, the panes'
// buttons), and the notification of its closing.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "MonitorApp/preferences/DisplayPreferencesViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/preferences/UserPrefsViewController.h"
#include "tests/MonitorApp/preferences/PreferencesTest.h"

namespace quenbril::test {
namespace {

class SettingsWindow : public PreferencesTest {
  protected:
    void SetUp() override {
        PreferencesTest::SetUp();
        window = std::make_unique<SettingsTabViewController>(sharedPreferencesServices(), &sender);
    }
    void TearDown() override {
        window.reset();
        PreferencesTest::TearDown();
    }
    UserPrefsViewController& user() { return *window->userPrefs(); }
    DisplayPreferencesViewController& display() { return *window->displayPrefs(); }
    void showDisplayTab() { window->tabView()->setCurrentWidget(&display()); }

    std::unique_ptr<SettingsTabViewController> window;
};

TEST_F(SettingsWindow, IsATitledWindowOnTheDarkGrayThatCannotZoom) {
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    window->show();
    EXPECT_EQ(window->tabView()->count(), 2);
    EXPECT_EQ(pixel(*window, 1, 1), onScreen(ColorHelper::vozodDarkGray()));
    EXPECT_EQ(user().tabDelegate(), window.get());
    EXPECT_EQ(display().tabDelegate(), window.get());
}

TEST_F(SettingsWindow, ThePaneGoingOutOfSightSaves) {
    window->show();
    EXPECT_EQ(user().longClickDuration()->text(), "0.75") << "the first pane shows its settings";
    user().longClickDuration()->setText("2");
    settings().setFlipChannelStrip(true);

    showDisplayTab();
    EXPECT_FLOAT_EQ(settings().longClickDuration(), 2.0f);
    EXPECT_EQ(sender.commands(), std::vector<std::string>{"SoloOn"});
    EXPECT_TRUE(display().flipChannelStripLabels()->isChecked()) << "shown as it comes in";

    display().flipChannelStripLabels()->setChecked(false);
    window->tabView()->setCurrentWidget(&user());
    EXPECT_FALSE(settings().flipChannelStrip());
}

TEST_F(SettingsWindow, ClosingPostsPreferencesChangedAndThePaneInSightSaves) {
    NotificationRecorder closed("PreferencesChanged");
    window->show();
    showDisplayTab();
    display().showRFAlerts()->setChecked(false);
    sender.sent.clear();

    window->close();  // the title bar's close button
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(closed.posted.size(), 1u);
    EXPECT_FALSE(settings().showRFAlerts());
    EXPECT_TRUE(sender.commands().empty()) << "the user pane, out of sight, did not save again";
}

TEST_F(SettingsWindow, APaneNeverShownWritesNothing) {
    defaults().setDouble(3.0, "lineThickness");
    defaults().setObject(Array{0.25, 0.25, 0.25}, "colorForAudio");
    window->show();
    window->closeWindow();
    EXPECT_DOUBLE_EQ(defaults().doubleForKey("lineThickness"), 3.0);
    EXPECT_EQ(*defaults().arrayForKey("colorForAudio"), (Array{0.25, 0.25, 0.25}));
}

TEST_F(SettingsWindow, SaveAndCloseOfTheUserPaneClosesTheWindow) {
    NotificationRecorder closed("PreferencesChanged");
    window->show();
    user().longClickDuration()->setText("1,5");
    user().saveAndClose();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(closed.posted.size(), 1u);
    EXPECT_FLOAT_EQ(settings().longClickDuration(), 1.5f);
}

TEST_F(SettingsWindow, ResettingToDefaultsThenClosingStoresTheBuiltInTheme) {
    defaults().setObject(Array{0.1, 0.1, 0.1}, "colorForAudio");
    defaults().setObject(Array{0.2, 0.2, 0.2}, "colorForRFC");
    defaults().setObject(Array{0.3, 0.3, 0.3}, "colorForChannelStripBorder");
    defaults().setDouble(3.0, "lineThickness");
    ColorHelper::sharedInstance().updateColors();
    settings().setChannelStripBorder(4);
    settings().setChatMacroCount(5);
    settings().setShowSCPAlerts(false);

    window->show();
    showDisplayTab();
    EXPECT_EQ(display().lineThickness()->currentIndex(), 2);
    display().resetToDefaults();
    EXPECT_EQ(display().lineThickness()->currentIndex(), 0);
    EXPECT_EQ(display().audioColor()->color(), (Color{0.5, 1.0, 0.5, 1.0}));
    window->closeWindow();

    auto color = [](const char* key) {
        return ColorHelper::colorForArray(*defaults().arrayForKey(key));
    };
    EXPECT_EQ(color("colorForAudio"), (Color{0.5, 1.0, 0.5, 1.0}));
    EXPECT_EQ(color("colorForRFC"), (Color{0.0, 1.0, 1.0, 1.0}));
    EXPECT_EQ(color("colorForChannelStripBorder"), (Color{0.5, 0.5, 0.5, 1.0}));
    EXPECT_DOUBLE_EQ(defaults().doubleForKey("lineThickness"), 1.0);
    EXPECT_EQ(settings().channelStripBorder(), 2);
    EXPECT_EQ(settings().chatMacroCount(), 8);
    EXPECT_TRUE(settings().showSCPAlerts());
}

TEST_F(SettingsWindow, TheDisplayPanesCancelClosesTheWindowAndSaves) {
    NotificationRecorder closed("PreferencesChanged");
    window->show();
    showDisplayTab();
    display().numberOfMacrosInChat()->setCurrentIndex(0);
    display().cancelClicked();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(settings().chatMacroCount(), 4);
    EXPECT_EQ(closed.posted.size(), 1u);
}

TEST_F(SettingsWindow, ThePanesFollowTheLock) {
    window->show();
    NotificationCenter::defaultCenter().post("QuenbrilLocked", Dictionary{{"lockOn", true}});
    EXPECT_TRUE(user().isCovered());
    NotificationCenter::defaultCenter().post("QuenbrilLocked", Dictionary{{"lockOn", false}});
    EXPECT_FALSE(user().isCovered());
}

}  // namespace
}  // namespace quenbril::test
