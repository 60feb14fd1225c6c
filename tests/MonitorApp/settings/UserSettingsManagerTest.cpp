#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <set>
#include <tuple>

#include "SettingsTestEnvironment.h"

namespace quenbril {
namespace {

using UserSettingsManagerTest = SettingsTest;

UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }

std::set<std::string> keysOf(const Dictionary& d) {
    std::set<std::string> keys;
    for (const auto& [key, value] : d) keys.insert(*key.stringValue());
    return keys;
}

// The stored record at first launch, but for the random chat name.
// clang-format off
const Dictionary kDefaultRecord{
    {"showImages", 15}, {"actAsClient", false}, {"soloOn", true}, {"debugTextOn", false},
    {"disableAllWarnings", false}, {"rfRecover", true}, {"chatFlash", false}, {"titleShows", 0},
    {"flipChannelStrip", false}, {"chatMacroCount", 8}, {"warningSensitivity", 0},
    {"lowSensitivity", 0}, {"rfThreshold", 50}, {"batThreshold", 30}, {"midiChannel", 15},
    {"midiCommand", 176}, {"chatMode", 0}, {"qbIdentifier", "quenbril"},
    {"chatIdentifier", "quenbril_chat"}, {"showRFA", true}, {"showRFB", true}, {"showRFC", true},
    {"showRFD", true}, {"showAudio", true}, {"showQuality", true}, {"showBatteryAlerts", true},
    {"showSCPAlerts", true}, {"showRFAlerts", true}, {"chatFontSize", 0}, {"chatButtonSize", 0},
    {"streamingMode", 0}, {"flashTimeout", 0}, {"longClickDuration", 0.75}};
// clang-format on

// The fields that live for one run only, at their start values.
void expectPerRunDefaults(const UserSettingsManager& s) {
    EXPECT_FALSE(s.isLocked() || s.micCheckMode() || s.hardMuting() || s.notebookMode());
    EXPECT_EQ(std::tuple(s.channelStripBorder(), s.batTimeThreshold(), s.currentAct(),
                         s.selectedTool(), s.prevSoloIndex(), s.longRingBufLen(), s.columns()),
              std::tuple(2, 90, 0, 0, -1, 3000, 8));
    EXPECT_EQ(s.chatReceiver(), "All");
    EXPECT_EQ(s.macroLastUpdated(), 0.0);
    EXPECT_TRUE(s.clientsEnabled());
    EXPECT_FLOAT_EQ(s.masterVersion(), 1.0f);
}

std::optional<Dictionary> storedRecord() {
    return UserDefaults::standardUserDefaults().dictionaryForKey("UserSettings");
}

TEST_F(UserSettingsManagerTest, FirstLaunchGivesTheDefaults) {
    const std::string name = settings().chatUsername();
    EXPECT_TRUE(std::regex_match(name, std::regex("Remote_(0|[1-9][0-9]{0,2})"))) << name;
    expectPerRunDefaults(settings());
    EXPECT_FALSE(storedRecord()) << "loading stores nothing";
    ASSERT_TRUE(settings().saveSettings());
    Dictionary expected = kDefaultRecord;
    expected.set("chatUsername", name);
    EXPECT_EQ(storedRecord(), expected);
}

TEST_F(UserSettingsManagerTest, SaveAndRestartKeepEveryStoredFieldAndNoPerRunOne) {
    // Every stored field away from its default, as an earlier run left it.
    // clang-format off
    Dictionary record{
        {"showImages", 40}, {"actAsClient", true}, {"soloOn", false}, {"debugTextOn", true},
        {"disableAllWarnings", true}, {"rfRecover", false}, {"chatFlash", true}, {"titleShows", 3},
        {"flipChannelStrip", true}, {"chatMacroCount", 5}, {"warningSensitivity", 2},
        {"lowSensitivity", 1}, {"rfThreshold", 61}, {"batThreshold", 22}, {"midiChannel", 3},
        {"midiCommand", 144}, {"chatUsername", "Stage left"}, {"chatMode", 1},
        {"qbIdentifier", "theatre"}, {"chatIdentifier", "theatre_chat"}, {"showRFA", false},
        {"showRFB", false}, {"showRFC", false}, {"showRFD", false}, {"showAudio", false},
        {"showQuality", false}, {"showBatteryAlerts", false}, {"showSCPAlerts", false},
        {"showRFAlerts", false}, {"chatFontSize", 2}, {"chatButtonSize", 1},
        {"streamingMode", 1}, {"flashTimeout", 9}, {"longClickDuration", 1.25}};
    // clang-format on
    ASSERT_TRUE(defaults().setObject(record, "UserSettings"));
    restart();
    UserSettingsManager& s = settings();
    EXPECT_FALSE(s.debugTextOn()) << "never kept on";
    s.setIsLocked(true);
    s.setMicCheckMode(true);
    s.setChatReceiver("Stage manager");
    s.setLongRingBufLen(500);
    s.setColumns(3);
    s.setMasterVersion(3.8f);
    ASSERT_TRUE(s.saveSettings());

    restart();
    record.set("debugTextOn", false);
    auto stored = storedRecord();
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, record);
    EXPECT_TRUE((*stored)["soloOn"].isBool());
    EXPECT_TRUE((*stored)["showImages"].isInteger());
    EXPECT_TRUE((*stored)["longClickDuration"].isReal());
    expectPerRunDefaults(settings());
}

TEST_F(UserSettingsManagerTest, MissingStoredKeysFollowTheirOwnRule) {
    // A record holding only these keys: the eight keys read without a presence test become
    // NO or 0, every other one keeps its default.
    defaults().setObject(Dictionary{{"debugTextOn", true}, {"showImages", 70}}, "UserSettings");
    restart();
    const UserSettingsManager& s = settings();
    EXPECT_FALSE(s.soloOn()) << "a missing soloOn loads as NO";
    EXPECT_EQ(s.rfThreshold(), 50);
    EXPECT_TRUE(s.rfRecover());
    EXPECT_FALSE(s.debugTextOn());
    EXPECT_EQ(s.showImages(), 70);
    EXPECT_EQ(s.qbIdentifier(), "quenbril");
}

TEST_F(UserSettingsManagerTest, StoredNumbersThatAreNotFiniteReadAsMissing) {
    for (double bad : {HUGE_VAL, -HUGE_VAL, std::nan(""), 1e308}) {
        defaults().setObject(Dictionary{{"longClickDuration", bad}}, "UserSettings");
        restart();
        EXPECT_FLOAT_EQ(settings().longClickDuration(), 0.75f) << bad;
    }
}

TEST_F(UserSettingsManagerTest, StoredValuesOfTheWrongKindReadAsMissingAndAreBounded) {
    defaults().setObject(Dictionary{{"chatUsername", 42},
                                    {"qbIdentifier", Array{"x"}},
                                    {"soloOn", "yes"},
                                    {"rfThreshold", "70"},
                                    {"showRFA", 0.0},
                                    {"batThreshold", 12.9},
                                    {"chatMacroCount", 1000},
                                    {"longClickDuration", 99.0}},
                         "UserSettings");
    restart();
    UserSettingsManager& s = settings();
    EXPECT_TRUE(s.chatUsername().starts_with("Remote_"));
    EXPECT_EQ(s.qbIdentifier(), "quenbril");
    EXPECT_FALSE(s.soloOn());
    EXPECT_EQ(s.rfThreshold(), 50);
    EXPECT_FALSE(s.showRFA()) << "any number is a flag";
    EXPECT_EQ(s.batThreshold(), 12);
    EXPECT_EQ(s.chatMacroCount(), 8);
    EXPECT_FLOAT_EQ(s.longClickDuration(), 5.0f);

    s.setLongClickDuration(-3);
    EXPECT_FLOAT_EQ(s.longClickDuration(), 0.0f);
    s.setLongClickDuration(std::nanf(""));
    EXPECT_FLOAT_EQ(s.longClickDuration(), 0.75f);
    s.setColumns(0);
    EXPECT_EQ(s.columns(), 1);

    defaults().setObject("not a record", "UserSettings");
    restart();
    EXPECT_TRUE(settings().soloOn()) << "a record of the wrong kind is no record";
}

TEST_F(UserSettingsManagerTest, ExportCarriesTheTwentyOneGeneralSettings) {
    settings().setLongClickDuration(1.25f);
    Dictionary exported = settings().getSettings();
    EXPECT_EQ(keysOf(exported),
              (std::set<std::string>{
                  "soloOn",       "showImages",     "chatFlash",         "chatUsername",
                  "chatFontSize", "chatButtonSize", "chatMacroCount",    "flipChannelStrip",
                  "titleShows",   "showRFA",        "showRFB",           "showRFC",
                  "showRFD",      "showAudio",      "showQuality",       "qbIdentifier",
                  "showRFAlerts", "showSCPAlerts",  "showBatteryAlerts", "longClickDuration",
                  "flashTimeout"}));
    EXPECT_TRUE(exported["showRFA"].isBool());
    EXPECT_TRUE(exported["flashTimeout"].isInteger());
    EXPECT_TRUE(exported["longClickDuration"].isReal());
    EXPECT_FLOAT_EQ(*exported["longClickDuration"].floatValue(), 1.25f);
}

TEST_F(UserSettingsManagerTest, ImportAppliesEachKeyByItsRuleAndStoresNothing) {
    UserSettingsManager& s = settings();
    s.setShowRFA(false);
    s.setShowImages(33);
    s.setChatFlash(true);
    s.setChatMacroCount(5);
    s.setFlashTimeout(4);
    const std::string savedName = s.chatUsername();
    ASSERT_TRUE(s.saveSettings());

    s.setSettings(Dictionary{{"soloOn", true},
                             {"chatUsername", "Prompt desk"},
                             {"qbIdentifier", 17},
                             {"titleShows", "two"},
                             {"longClickDuration", -1.0},
                             {"rfThreshold", 99},
                             {"actAsClient", true}});
    EXPECT_TRUE(s.showRFA()) << "a missing showRFA is switched on";
    EXPECT_EQ(s.showImages(), 33) << "a missing showImages is kept";
    EXPECT_FALSE(s.chatFlash()) << "a missing chatFlash is NO";
    EXPECT_EQ(s.chatMacroCount(), 8) << "a missing chatMacroCount goes back to its default";
    EXPECT_EQ(s.flashTimeout(), 4);
    EXPECT_EQ(s.chatUsername(), "Prompt desk");
    EXPECT_EQ(s.qbIdentifier(), "quenbril") << "a number is no identifier";
    EXPECT_EQ(s.titleShows(), 0);
    EXPECT_FLOAT_EQ(s.longClickDuration(), 0.0f);
    EXPECT_EQ(s.rfThreshold(), 50) << "not part of the general settings";
    EXPECT_FALSE(s.actAsClient());

    restart();
    EXPECT_FALSE(settings().showRFA()) << "the import reached the store";
    EXPECT_EQ(settings().chatUsername(), savedName);
}

TEST_F(UserSettingsManagerTest, ChatSettingsExportOnlyTheQuickMessageKeys) {
    EXPECT_TRUE(UserSettingsManager::getChatSettings().empty());
    defaults().setObject("Places please", "CB 3");
    defaults().setObject(Dictionary{{"onTop", 0}}, "chatSettings");
    defaults().setObject("not exported", "CB MIDI 20");
    defaults().setObject("not exported", "CB 8");
    Dictionary chat = UserSettingsManager::getChatSettings();
    EXPECT_EQ(keysOf(chat), (std::set<std::string>{"CB 3", "chatSettings"}));
    EXPECT_EQ(chat["CB 3"], Value("Places please"));
}

TEST_F(UserSettingsManagerTest, ChatSettingsImportWritesOnlyTheExportedKeysOfTheirKind) {
    defaults().setObject(1, "clientID");
    EXPECT_TRUE(UserSettingsManager::setChatSettings(
        Dictionary{{"CB 1", "Standby"},
                   {"CB MIDI 1", Array{0, 176, 20, 127}},
                   {"CB 2", 5},
                   {"chatSettings", Dictionary{{"userMes", 1}}},
                   {"clientID", 7},
                   {"UserSettings", Dictionary{}},
                   {"players", Array{}}}));
    restart();
    EXPECT_EQ(defaults().objectForKey("CB 1"), Value("Standby"));
    EXPECT_EQ(defaults().objectForKey("CB MIDI 1"), Value(Array{0, 176, 20, 127}));
    EXPECT_TRUE(defaults().objectForKey("CB 2").isNull());
    EXPECT_TRUE(defaults().objectForKey("chatSettings").isDictionary());
    EXPECT_EQ(defaults().integerForKey("clientID"), 1);
    EXPECT_TRUE(defaults().objectForKey("UserSettings").isNull());
    EXPECT_TRUE(defaults().objectForKey("players").isNull());
}

TEST_F(UserSettingsManagerTest, AFailedSaveIsReported) {
    // A regular file where the settings folder should go: the store cannot be written.
    const std::string blocker = root_ + "/not-a-folder";
    std::ofstream(blocker) << "x";
    setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    restart();
    EXPECT_FALSE(settings().saveSettings());
    EXPECT_FALSE(UserSettingsManager::setChatSettings(Dictionary{{"CB 1", "Go"}}));
}

}  // namespace
}  // namespace quenbril
