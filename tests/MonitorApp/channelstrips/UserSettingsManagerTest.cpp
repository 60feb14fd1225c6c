#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <set>

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

TEST_F(UserSettingsManagerTest, FirstLaunchGivesTheDefaults) {
    const UserSettingsManager& s = settings();
    EXPECT_EQ(s.showImages(), 15);
    EXPECT_FALSE(s.actAsClient());
    EXPECT_TRUE(s.soloOn());
    EXPECT_FALSE(s.debugTextOn());
    EXPECT_FALSE(s.isLocked());
    EXPECT_FALSE(s.disableAllWarnings());
    EXPECT_TRUE(s.rfRecover());
    EXPECT_FALSE(s.chatFlash());
    EXPECT_EQ(s.titleShows(), 0);
    EXPECT_FALSE(s.flipChannelStrip());
    EXPECT_EQ(s.chatMacroCount(), 8);
    EXPECT_EQ(s.channelStripBorder(), 2);
    EXPECT_EQ(s.warningSensitivity(), 0);
    EXPECT_EQ(s.lowSensitivity(), 0);
    EXPECT_EQ(s.rfThreshold(), 50);
    EXPECT_EQ(s.batThreshold(), 30);
    EXPECT_EQ(s.batTimeThreshold(), 90);
    EXPECT_EQ(s.midiChannel(), 15);
    EXPECT_EQ(s.midiCommand(), 176);
    std::smatch match;
    const std::string name = s.chatUsername();
    ASSERT_TRUE(std::regex_match(name, match, std::regex("Remote_(0|[1-9][0-9]{0,2})"))) << name;
    EXPECT_EQ(s.chatMode(), 0);
    EXPECT_EQ(s.qbIdentifier(), "quenbril");
    EXPECT_EQ(s.chatIdentifier(), "quenbril_chat");
    EXPECT_FALSE(s.micCheckMode());
    EXPECT_FALSE(s.hardMuting());
    EXPECT_EQ(s.currentAct(), 0);
    for (bool on : {s.showRFA(), s.showRFB(), s.showRFC(), s.showRFD(), s.showAudio(),
                    s.showQuality(), s.showBatteryAlerts(), s.showSCPAlerts(), s.showRFAlerts()}) {
        EXPECT_TRUE(on);
    }
    EXPECT_FALSE(s.notebookMode());
    EXPECT_EQ(s.selectedTool(), 0);
    EXPECT_EQ(s.chatFontSize(), 0);
    EXPECT_EQ(s.chatButtonSize(), 0);
    EXPECT_EQ(s.chatReceiver(), "All");
    EXPECT_EQ(s.macroLastUpdated(), 0.0);
    EXPECT_TRUE(s.clientsEnabled());
    EXPECT_EQ(s.prevSoloIndex(), -1);
    EXPECT_EQ(s.longRingBufLen(), 3000);
    EXPECT_EQ(s.streamingMode(), 0);
    EXPECT_EQ(s.columns(), 8);
    EXPECT_EQ(s.flashTimeout(), 0);
    EXPECT_FLOAT_EQ(s.longClickDuration(), 0.75f);
    EXPECT_FLOAT_EQ(s.masterVersion(), 1.0f);
    EXPECT_EQ(SettingsManager::channels(), 128);
    EXPECT_TRUE(defaults().objectForKey("UserSettings").isNull()) << "loading stores nothing";
}

TEST_F(UserSettingsManagerTest, SaveAndRestartKeepEveryStoredFieldAndNoPerRunOne) {
    UserSettingsManager& s = settings();
    s.setShowImages(40);
    s.setActAsClient(true);
    s.setSoloOn(false);
    s.setDebugTextOn(true);
    s.setDisableAllWarnings(true);
    s.setRfRecover(false);
    s.setChatFlash(true);
    s.setTitleShows(3);
    s.setFlipChannelStrip(true);
    s.setChatMacroCount(5);
    s.setWarningSensitivity(2);
    s.setLowSensitivity(1);
    s.setRfThreshold(61);
    s.setBatThreshold(22);
    s.setMidiChannel(3);
    s.setMidiCommand(144);
    s.setChatUsername("Stage left");
    s.setChatMode(1);
    s.setQbIdentifier("theatre");
    s.setChatIdentifier("theatre_chat");
    s.setShowRFA(false);
    s.setShowRFB(false);
    s.setShowRFC(false);
    s.setShowRFD(false);
    s.setShowAudio(false);
    s.setShowQuality(false);
    s.setShowBatteryAlerts(false);
    s.setShowSCPAlerts(false);
    s.setShowRFAlerts(false);
    s.setChatFontSize(2);
    s.setChatButtonSize(1);
    s.setStreamingMode(1);
    s.setFlashTimeout(9);
    s.setLongClickDuration(0.8f);
    // Per-run fields.
    s.setIsLocked(true);
    s.setChannelStripBorder(4);
    s.setBatTimeThreshold(12);
    s.setMicCheckMode(true);
    s.setHardMuting(true);
    s.setCurrentAct(3);
    s.setNotebookMode(true);
    s.setSelectedTool(2);
    s.setChatReceiver("Stage manager");
    s.setMacroLastUpdated(123.5);
    s.setClientsEnabled(false);
    s.setPrevSoloIndex(7);
    s.setLongRingBufLen(500);
    s.setColumns(3);
    s.setMasterVersion(3.8f);
    ASSERT_TRUE(s.saveSettings());

    auto record = defaults().dictionaryForKey("UserSettings");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size(), 34u);
    EXPECT_TRUE((*record)["soloOn"].isBool());
    EXPECT_TRUE((*record)["showImages"].isInteger());
    EXPECT_TRUE((*record)["longClickDuration"].isReal());
    EXPECT_EQ(*(*record)["chatUsername"].stringValue(), "Stage left");

    restart();
    const UserSettingsManager& r = settings();
    EXPECT_EQ(r.showImages(), 40);
    EXPECT_TRUE(r.actAsClient());
    EXPECT_FALSE(r.soloOn());
    EXPECT_FALSE(r.debugTextOn()) << "never kept on";
    EXPECT_TRUE(r.disableAllWarnings());
    EXPECT_FALSE(r.rfRecover());
    EXPECT_TRUE(r.chatFlash());
    EXPECT_EQ(r.titleShows(), 3);
    EXPECT_TRUE(r.flipChannelStrip());
    EXPECT_EQ(r.chatMacroCount(), 5);
    EXPECT_EQ(r.warningSensitivity(), 2);
    EXPECT_EQ(r.lowSensitivity(), 1);
    EXPECT_EQ(r.rfThreshold(), 61);
    EXPECT_EQ(r.batThreshold(), 22);
    EXPECT_EQ(r.midiChannel(), 3);
    EXPECT_EQ(r.midiCommand(), 144);
    EXPECT_EQ(r.chatUsername(), "Stage left");
    EXPECT_EQ(r.chatMode(), 1);
    EXPECT_EQ(r.qbIdentifier(), "theatre");
    EXPECT_EQ(r.chatIdentifier(), "theatre_chat");
    for (bool on : {r.showRFA(), r.showRFB(), r.showRFC(), r.showRFD(), r.showAudio(),
                    r.showQuality(), r.showBatteryAlerts(), r.showSCPAlerts(), r.showRFAlerts()}) {
        EXPECT_FALSE(on);
    }
    EXPECT_EQ(r.chatFontSize(), 2);
    EXPECT_EQ(r.chatButtonSize(), 1);
    EXPECT_EQ(r.streamingMode(), 1);
    EXPECT_EQ(r.flashTimeout(), 9);
    EXPECT_FLOAT_EQ(r.longClickDuration(), 0.8f);

    EXPECT_FALSE(r.isLocked());
    EXPECT_EQ(r.channelStripBorder(), 2);
    EXPECT_EQ(r.batTimeThreshold(), 90);
    EXPECT_FALSE(r.micCheckMode());
    EXPECT_FALSE(r.hardMuting());
    EXPECT_EQ(r.currentAct(), 0);
    EXPECT_FALSE(r.notebookMode());
    EXPECT_EQ(r.selectedTool(), 0);
    EXPECT_EQ(r.chatReceiver(), "All");
    EXPECT_EQ(r.macroLastUpdated(), 0.0);
    EXPECT_TRUE(r.clientsEnabled());
    EXPECT_EQ(r.prevSoloIndex(), -1);
    EXPECT_EQ(r.longRingBufLen(), 3000);
    EXPECT_EQ(r.columns(), 8);
    EXPECT_FLOAT_EQ(r.masterVersion(), 1.0f);
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
