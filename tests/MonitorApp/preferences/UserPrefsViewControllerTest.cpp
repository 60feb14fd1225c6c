// The user pane: the single-solo check box and its rule, the long-click duration as typed, the
// length limit of its text fields, and what a save sends, refreshes and posts.

#include <QCheckBox>
#include <QLineEdit>

#include "MonitorApp/controls/TextLengthLimit.h"
#include "MonitorApp/preferences/UserPrefsViewController.h"
#include "tests/MonitorApp/preferences/PreferencesTest.h"

namespace quenbril::test {
namespace {

class UserPrefs : public PreferencesTest {
  protected:
    void SetUp() override {
        PreferencesTest::SetUp();
        pane = std::make_unique<UserPrefsViewController>(sharedPreferencesServices());
        pane->setLinkSender(&sender);
    }
    void TearDown() override {
        pane.reset();
        PreferencesTest::TearDown();
    }
    /// Types `text` into the duration field and saves; answers what was stored.
    double typeDuration(const char* text) {
        pane->longClickDuration()->setText(text);
        pane->save();
        return settings().longClickDuration();
    }
    std::unique_ptr<UserPrefsViewController> pane;
};

TEST_F(UserPrefs, TheDurationTakesADecimalCommaAndStaysWithinFiveSeconds) {
    pane->viewDidAppear();
    EXPECT_EQ(pane->longClickDuration()->text(), "0.75");

    pane->longClickDuration()->setText("0,8");
    EXPECT_EQ(pane->longClickDuration()->text(), "0.8") << "the comma becomes a point as typed";
    pane->save();
    EXPECT_FLOAT_EQ(settings().longClickDuration(), 0.8f);

    EXPECT_FLOAT_EQ(typeDuration("9"), 5.0f);
    EXPECT_FLOAT_EQ(typeDuration("-1"), 0.0f);
}

TEST_F(UserPrefs, ShowsAndSavesTheSettingsItIsGivenAndTellsItsOwnCentre) {
    UserDefaults ownDefaults("/nonexistent/quenbril-user-prefs", "Defaults");
    UserSettingsManager settings(ownDefaults);
    settings.setLongClickDuration(1.5f);
    NotificationCenter center;
    int told = 0;
    const NotificationObserver listener =
        center.addObserver("SettingsChanged", [&](const Notification&) { ++told; });
    NotificationRecorder shared("SettingsChanged");
    PreferencesServices services = sharedPreferencesServices();
    UserPrefsViewController own(
        PreferencesServices{settings, services.colors, services.strips, services.defaults, center});

    own.viewDidAppear();
    EXPECT_EQ(own.longClickDuration()->text(), "1.50");
    own.longClickDuration()->setText("2");
    own.save();
    EXPECT_FLOAT_EQ(settings.longClickDuration(), 2.0f);
    EXPECT_FLOAT_EQ(UserSettingsManager::sharedInstance().longClickDuration(), 0.75f);
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(shared.posted.empty());
}

TEST_F(UserPrefs, ThePaneFollowsTheLockOfTheServicesItIsMadeWith) {
    UserDefaults ownDefaults("/nonexistent/quenbril-user-prefs", "Defaults");
    UserSettingsManager settings(ownDefaults);
    settings.setIsLocked(true);
    NotificationCenter center;
    const PreferencesServices services = sharedPreferencesServices();
    UserPrefsViewController own(
        PreferencesServices{settings, services.colors, services.strips, services.defaults, center});

    own.viewDidLoad();
    EXPECT_TRUE(own.isCovered()) << "its own settings are locked, the shared ones are not";
    NotificationCenter::defaultCenter().post("QuenbrilLocked", Dictionary{{"lockOn", false}});
    EXPECT_TRUE(own.isCovered());
    center.post("QuenbrilLocked", Dictionary{{"lockOn", false}});
    EXPECT_FALSE(own.isCovered());
}

TEST_F(UserPrefs, ADurationThatIsNotANumberKeepsThePreviousOne) {
    EXPECT_FLOAT_EQ(typeDuration("1.25"), 1.25f);
    EXPECT_FLOAT_EQ(typeDuration("abc"), 1.25f);
    EXPECT_FLOAT_EQ(typeDuration(""), 1.25f);
    EXPECT_FLOAT_EQ(typeDuration("2.5s"), 1.25f);
    EXPECT_FLOAT_EQ(typeDuration("nan"), 1.25f);
    EXPECT_FLOAT_EQ(typeDuration(" 2 "), 2.0f);
}

TEST_F(UserPrefs, SingleSoloIsOnlyOfferedWhereTheServerAllowsIt) {
    QCheckBox* solo = pane->soloOn();
    pane->viewDidAppear();
    EXPECT_TRUE(solo->isEnabled()) << "no client id stored";
    EXPECT_TRUE(solo->toolTip().isEmpty());

    defaults().setInteger(4, "clientID");
    pane->viewDidAppear();
    EXPECT_FALSE(solo->isEnabled());
    EXPECT_EQ(solo->toolTip(), "Single solo mode can be selected in Quenbril Server settings");

    defaults().setInteger(3, "clientID");
    settings().setClientsEnabled(false);
    pane->viewDidAppear();
    EXPECT_FALSE(solo->isEnabled());
    EXPECT_EQ(solo->toolTip(), UserPrefsViewController::kSoloToolTip);

    settings().setClientsEnabled(true);
    pane->viewDidAppear();
    EXPECT_TRUE(solo->isEnabled());
    EXPECT_TRUE(solo->toolTip().isEmpty());
}

TEST_F(UserPrefs, ADisabledSoloBoxStillSavesItsState) {
    settings().setSoloOn(false);
    defaults().setInteger(4, "clientID");
    pane->viewDidAppear();
    EXPECT_FALSE(pane->soloOn()->isChecked());
    pane->soloOn()->setChecked(true);  // as the stored settings or a script may set it
    pane->save();
    EXPECT_TRUE(settings().soloOn());
}

TEST_F(UserPrefs, SavingSendsSoloOnRefreshesTheStripsAndTellsTheChat) {
    buildStrips(2);
    for (FakeStripView* view : views) {
        view->appearanceUpdates = 0;
        view->title.clear();
    }
    NotificationRecorder changed("SettingsChanged");
    int refreshedAtPost = -1;
    NotificationObserver order = NotificationCenter::defaultCenter().addObserver(
        "SettingsChanged",
        [&](const Notification&) { refreshedAtPost = views[1]->appearanceUpdates; });

    pane->viewDidAppear();
    pane->soloOn()->setChecked(false);
    pane->save();
    ASSERT_EQ(sender.commands(), std::vector<std::string>{"SoloOn"});
    EXPECT_EQ(sender.sent[0]["Value"], Value(false));
    EXPECT_EQ(views[0]->appearanceUpdates, 1);
    EXPECT_EQ(views[1]->title, "S2") << "the strips filled their views again";
    EXPECT_EQ(changed.posted.size(), 1u);
    EXPECT_EQ(refreshedAtPost, 1) << "the chat hears of it after the strips are done";

    // Connected or not, the command goes to the link.
    pane->setLinkSender(nullptr);
    pane->save();
    EXPECT_EQ(changed.posted.size(), 2u);
}

TEST_F(UserPrefs, ItsSettingsAreStoredForTheNextRun) {
    pane->viewDidAppear();
    pane->soloOn()->setChecked(false);
    pane->longClickDuration()->setText("2,5");
    pane->save();
    restart();
    EXPECT_FALSE(settings().soloOn());
    EXPECT_FLOAT_EQ(settings().longClickDuration(), 2.5f);
}

TEST_F(UserPrefs, AStoreThatRefusesTheSaveIsReported) {
    RecordingAlerts alerts;
    pane->setAlertPresenter(&alerts);
    pane->viewDidAppear();
    makeStoreReadOnly();
    pane->save();
    ASSERT_EQ(alerts.texts.size(), 1u);
    EXPECT_EQ(alerts.texts[0], "The preferences could not be saved to " + defaults().path() +
                                   ". They stay in use until the program ends.");
    EXPECT_EQ(sender.commands(), std::vector<std::string>{"SoloOn"}) << "the rest goes on";
}

TEST_F(UserPrefs, OtherFieldsKeepSixtyFourCharactersWithoutSplittingOne) {
    QLineEdit other;
    pane->delegateTextField(&other);
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80");  // one character, two units

    other.setText(QString(65, 'a'));
    EXPECT_EQ(other.text(), QString(64, 'a'));

    // 63 letters and a two-unit character are 64 characters: all stay, the 65th goes.
    other.setText(QString(63, 'a') + grin + "b");
    EXPECT_EQ(other.text(), QString(63, 'a') + grin);
    other.setText(QString(63, 'a') + grin);
    EXPECT_EQ(other.text(), QString(63, 'a') + grin);

    // Other fields are not numbers: their commas stay.
    other.setText("a,b");
    EXPECT_EQ(other.text(), "a,b");
}

TEST(TextLengthLimit, CountsCharactersNotUnits) {
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80");
    EXPECT_EQ(limitToCodePoints(grin + grin + grin, 2), grin + grin);
    EXPECT_EQ(limitToCodePoints("abc", 3), "abc");
    EXPECT_EQ(limitToCodePoints("abc", 0), "");
    // A lone half of a pair counts as one character.
    const QString lone = QString(QChar(0xD83D)) + "x";
    EXPECT_EQ(limitToCodePoints(lone, 1), QString(QChar(0xD83D)));
}

}  // namespace
}  // namespace quenbril::test
