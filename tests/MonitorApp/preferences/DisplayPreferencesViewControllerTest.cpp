// The display pane: how it shows the theme and the settings (the index rules of its pop-ups),
// what a save writes, the reset to the built-in theme, and the colour wells.

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>

#include "MonitorApp/preferences/DisplayPreferencesViewController.h"
#include "tests/MonitorApp/preferences/PreferencesTest.h"

namespace quenbril::test {
namespace {

class DisplayPrefs : public PreferencesTest {
  protected:
    void SetUp() override {
        PreferencesTest::SetUp();
        pane = std::make_unique<DisplayPreferencesViewController>(sharedPreferencesServices());
        pane->setColorPicker([this](const Color& current, QWidget*) -> std::optional<Color> {
            offered.push_back(current);
            return picked;
        });
    }
    void TearDown() override {
        pane.reset();
        PreferencesTest::TearDown();
    }
    static void storeThickness(double thickness) {
        defaults().setDouble(thickness, "lineThickness");
        ColorHelper::sharedInstance().updateColors();
    }
    static Color stored(const char* key) {
        return ColorHelper::colorForArray(defaults().arrayForKey(key).value_or(Array{}));
    }

    std::unique_ptr<DisplayPreferencesViewController> pane;
    std::optional<Color> picked;
    std::vector<Color> offered;
};

TEST_F(DisplayPrefs, TheThicknessSelectsTheItemWithinATenth) {
    storeThickness(2.05);
    pane->viewDidAppear();
    EXPECT_EQ(pane->lineThickness()->currentIndex(), 1);

    storeThickness(3.95);
    pane->viewDidAppear();
    EXPECT_EQ(pane->lineThickness()->currentIndex(), 3);

    // Between items nothing is selected anew: the pop-up keeps what it showed.
    storeThickness(2.5);
    pane->viewDidAppear();
    EXPECT_EQ(pane->lineThickness()->currentIndex(), 3);
    pane->save();
    EXPECT_DOUBLE_EQ(defaults().doubleForKey("lineThickness"), 4.0);
}

TEST_F(DisplayPrefs, AMacroCountBelowFourLeavesThePopUp) {
    pane->numberOfMacrosInChat()->setCurrentIndex(2);
    settings().setChatMacroCount(3);
    pane->viewDidAppear();
    EXPECT_EQ(pane->numberOfMacrosInChat()->currentIndex(), 2);
    pane->save();
    EXPECT_EQ(settings().chatMacroCount(), 6) << "index + 4 of what it shows";

    settings().setChatMacroCount(8);
    pane->viewDidAppear();
    EXPECT_EQ(pane->numberOfMacrosInChat()->currentIndex(), 4);
}

TEST_F(DisplayPrefs, ATitleModePastTheItemsLeavesThePopUp) {
    pane->titleShow()->setCurrentIndex(1);
    settings().setTitleShows(7);
    pane->viewDidAppear();
    EXPECT_EQ(pane->titleShow()->currentIndex(), 1);
    pane->save();
    EXPECT_EQ(settings().titleShows(), 1);
}

TEST_F(DisplayPrefs, ShowsTheSettingsAndSavesThemBack) {
    defaults().setObject(Array{0.25, 0.5, 0.75}, "colorForRFB");
    ColorHelper::sharedInstance().updateColors();
    settings().setChannelStripBorder(3);
    settings().setChatMacroCount(5);
    settings().setFlipChannelStrip(true);
    settings().setShowImages(40);
    settings().setTitleShows(2);
    settings().setShowSCPAlerts(false);
    settings().setShowRFAlerts(true);
    settings().setShowBatteryAlerts(false);
    pane->viewDidAppear();
    EXPECT_EQ(pane->rfBColor()->color(), (Color{0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(pane->audioColor()->color(), (Color{0.5, 1.0, 0.5, 1.0}));
    EXPECT_EQ(pane->channelStripBorderWidth()->currentIndex(), 2);
    EXPECT_EQ(pane->numberOfMacrosInChat()->currentIndex(), 1);
    EXPECT_TRUE(pane->flipChannelStripLabels()->isChecked());
    EXPECT_EQ(pane->playerOpacity()->value(), 40);
    EXPECT_EQ(pane->titleShow()->currentIndex(), 2);
    EXPECT_FALSE(pane->showSCPAlerts()->isChecked());
    EXPECT_TRUE(pane->showRFAlerts()->isChecked());
    EXPECT_FALSE(pane->showBatteryAlerts()->isChecked());

    buildStrips(1);
    views[0]->appearanceUpdates = 0;
    NotificationRecorder buttons("ChatButtonsChanged");
    NotificationRecorder changed("SettingsChanged");
    pane->playerOpacity()->setValue(70);
    pane->showBatteryAlerts()->setChecked(true);
    pane->save();
    EXPECT_EQ(stored("colorForRFB"), (Color{0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(settings().showImages(), 70);
    EXPECT_TRUE(settings().showBatteryAlerts());
    EXPECT_EQ(buttons.posted.size(), 1u);
    EXPECT_EQ(changed.posted.size(), 1u);
    EXPECT_EQ(views[0]->appearanceUpdates, 1);

    // The stored record has them for the next run.
    restart();
    EXPECT_EQ(settings().showImages(), 70);
    EXPECT_EQ(settings().chatMacroCount(), 5);
    EXPECT_TRUE(settings().flipChannelStrip());
}

TEST_F(DisplayPrefs, AWellTakesThePickedColourAndKeepsItWhenThePickIsCancelled) {
    pane->viewDidAppear();
    picked = Color{0.1, 0.2, 0.3, 1.0};
    pane->qlColor()->click();
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], (Color{1.0, 0.0, 1.0, 1.0})) << "the picker starts from the well";
    EXPECT_EQ(pane->qlColor()->color(), *picked);

    picked.reset();
    pane->qlColor()->click();
    EXPECT_EQ(pane->qlColor()->color(), (Color{0.1, 0.2, 0.3, 1.0}));
    pane->save();
    const Color saved = stored("colorForQL");
    EXPECT_FLOAT_EQ(saved.red, 0.1f);
    EXPECT_FLOAT_EQ(saved.blue, 0.3f);
    EXPECT_EQ(ColorHelper::colorForArray(ColorHelper::colorForQL()), saved)
        << "the theme is reloaded";
}

TEST_F(DisplayPrefs, AStoreThatRefusesTheSaveIsReportedOnce) {
    RecordingAlerts alerts;
    pane->setAlertPresenter(&alerts);
    pane->viewDidAppear();
    makeStoreReadOnly();
    NotificationRecorder changed("SettingsChanged");
    pane->save();
    EXPECT_EQ(alerts.texts.size(), 1u);
    EXPECT_EQ(changed.posted.size(), 1u);
    // A store that takes the writes again gives no alert.
    std::filesystem::permissions(defaults().path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    pane->save();
    EXPECT_EQ(alerts.texts.size(), 1u);
}

TEST_F(DisplayPrefs, CancelStillSaves) {
    pane->viewDidAppear();
    picked = Color{0.0, 0.0, 1.0, 1.0};
    pane->audioColor()->click();
    pane->flipChannelStripLabels()->setChecked(true);
    pane->lineThickness()->setCurrentIndex(2);
    pane->cancelClicked();
    EXPECT_EQ(stored("colorForAudio"), (Color{0.0, 0.0, 1.0, 1.0}));
    EXPECT_TRUE(settings().flipChannelStrip());
    EXPECT_DOUBLE_EQ(defaults().doubleForKey("lineThickness"), 3.0);
}

}  // namespace
}  // namespace quenbril::test
