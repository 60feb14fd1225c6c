// Export and import of the settings file through the menu: the round trip, a file that holds
// only part of the settings, a file that is no settings dictionary (or nested past any bound)
// and a write that fails.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "MonitorApp/app/SettingsFile.h"
#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "MonitorApp/views/StripWidgetFactories.h"
#include "foundation/PropertyList.h"
#include "resources/QuenbrilResources.h"
#include "tests/MonitorApp/app/AppTest.h"
#include "tests/support/DeepPlist.h"

namespace quenbril::test {
namespace {

class SettingsFileTest : public AppTest {
  protected:
    std::string file(const std::string& name) const { return root_ + "/" + name; }

    /// Stores one setting of each part: a colour, a quick message, a general setting.
    void storeSome() {
        ASSERT_TRUE(defaults().setObject(Value(3.0), ColorHelper::kLineThicknessKey));
        ASSERT_TRUE(defaults().setObject(Value("Places please"), "CB 3"));
        settings().setChatUsername("Monitor");
        settings().setTitleShows(2);
    }

    void exportTo(const std::string& path) {
        files.answers.push_back(path);
        delegate->exportUserPreferences();
    }
    void importFrom(const std::string& path) {
        files.answers.push_back(path);
        delegate->importUserPreferences();
    }
};

TEST_F(SettingsFileTest, ExportedSettingsComeBackOnImport) {
    storeSome();
    const std::string path = file("show.qcf");
    exportTo(path);
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].kind, FilePanel::Request::Kind::Save);
    EXPECT_EQ(files.requests[0].allowedTypes, std::vector<std::string>{"qcf"});
    EXPECT_TRUE(alerts.texts.empty());

    // An XML property list of the three dictionaries.
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<?xml"), std::string::npos);
    auto root = SettingsFile::read(path, nullptr);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->size(), 3u);
    EXPECT_EQ((*root)["general"].dictionaryValue()->size(), 21u);

    // Everything changes; the import brings the exported state back.
    ASSERT_TRUE(defaults().setObject(Value(7.0), ColorHelper::kLineThicknessKey));
    ASSERT_TRUE(defaults().setObject(Value("Changed"), "CB 3"));
    settings().setChatUsername("Other");
    settings().setTitleShows(0);
    importFrom(path);
    EXPECT_TRUE(alerts.texts.empty());
    EXPECT_EQ(defaults().doubleForKey(ColorHelper::kLineThicknessKey), 3.0);
    EXPECT_EQ(defaults().stringForKey("CB 3"), "Places please");
    EXPECT_EQ(settings().chatUsername(), "Monitor");
    EXPECT_EQ(settings().titleShows(), 2);
}

TEST_F(SettingsFileTest, WithNoColourStoredTheColourPartIsEmptyAndImportingItChangesNoColour) {
    exportTo(file("plain.qcf"));
    auto root = SettingsFile::read(file("plain.qcf"), nullptr);
    ASSERT_TRUE(root);
    EXPECT_TRUE((*root)["color"].dictionaryValue()->empty());

    ASSERT_TRUE(defaults().setObject(Value(5.0), ColorHelper::kLineThicknessKey));
    importFrom(file("plain.qcf"));
    EXPECT_EQ(defaults().doubleForKey(ColorHelper::kLineThicknessKey), 5.0);
}

TEST_F(SettingsFileTest, AFileOfOnlyGeneralSettingsChangesOnlyThem) {
    storeSome();
    Dictionary general;
    general.set("chatUsername", Value("Stage left"));
    general.set("titleShows", Value(3));
    Dictionary root;
    root.set("general", Value(general));
    ASSERT_TRUE(SettingsFile::write(root, file("general.qcf"), nullptr));

    importFrom(file("general.qcf"));
    EXPECT_TRUE(alerts.texts.empty());
    EXPECT_EQ(settings().chatUsername(), "Stage left");
    EXPECT_EQ(settings().titleShows(), 3);
    EXPECT_EQ(defaults().stringForKey("CB 3"), "Places please");
    EXPECT_EQ(defaults().doubleForKey(ColorHelper::kLineThicknessKey), 3.0);
}

TEST_F(SettingsFileTest, AFileThatIsNoSettingsDictionaryGivesTheAlertAndChangesNothing) {
    storeSome();
    const Bytes before =
        *PropertyList::write(Value(SettingsFile::make()), PropertyList::Format::Xml);
    const std::string array = file("array.qcf");
    {
        auto bytes =
            PropertyList::write(Value(Array{Value(1), Value("two")}), PropertyList::Format::Xml);
        std::ofstream(array, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    }
    const std::string garbage = file("garbage.qcf");
    std::ofstream(garbage) << "not a property list";
    const std::string deep = file("deep.qcf");
    std::ofstream(deep) << test::deepXmlPlist(test::kCrashingDepth);
    const std::string damagedBinary = file("damaged-binary.qcf");
    std::ofstream(damagedBinary) << "bplist00 cut short";

    for (const std::string& path :
         {array, garbage, deep, damagedBinary, file("missing.qcf"), root_}) {
        alerts.alerts.clear();
        importFrom(path);
        ASSERT_EQ(alerts.alerts.size(), 1u) << path;
        EXPECT_EQ(alerts.alerts[0].messageText, "Problem importing settings!");
        EXPECT_EQ(alerts.alerts[0].style, Alert::Style::Warning);
        // The alert names the file and why it could not be read.
        const std::string& reason = alerts.alerts[0].informativeText;
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
        EXPECT_GT(reason.size(), path.size() + 8) << reason;
        EXPECT_EQ(*PropertyList::write(Value(SettingsFile::make()), PropertyList::Format::Xml),
                  before)
            << path;
    }
}

TEST_F(SettingsFileTest, CancelledPanelsDoNothing) {
    delegate->exportUserPreferences();
    delegate->importUserPreferences();
    EXPECT_EQ(files.requests.size(), 2u);
    EXPECT_EQ(files.requests[1].kind, FilePanel::Request::Kind::Open);
    EXPECT_TRUE(alerts.texts.empty());
}

TEST_F(SettingsFileTest, AnExportWhereNoFileCanBeMadeIsReported) {
    // A folder where none can be made: its parent is a file.
    const std::string notAFolder = file("plain-file");
    std::ofstream(notAFolder) << "x";
    exportTo(notAFolder + "/show.qcf");
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].messageText, "Problem exporting settings!");
    EXPECT_FALSE(alerts.alerts[0].informativeText.empty());
}

TEST_F(SettingsFileTest, AnExportIntoAReadOnlyFolderIsReportedAndLeavesNoFile) {
    // Write bits mean nothing to root, which the check below tells.
    const std::string readOnly = file("locked");
    ASSERT_EQ(::mkdir(readOnly.c_str(), 0555), 0);
    if (::access(readOnly.c_str(), W_OK) == 0) {
        ::chmod(readOnly.c_str(), 0755);
        GTEST_SKIP() << "running with rights that write into read-only folders";
    }
    exportTo(readOnly + "/show.qcf");
    ::chmod(readOnly.c_str(), 0755);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].messageText, "Problem exporting settings!");
    EXPECT_FALSE(std::filesystem::exists(readOnly + "/show.qcf"));
}

TEST_F(SettingsFileTest, AFailedExportKeepsTheFileThatWasThere) {
    // The rename over the old file is the last step: a failure before it leaves the old file.
    const std::string path = file("keep.qcf");
    std::ofstream(path) << "old";
    Dictionary unwritable;
    unwritable.set("color", Value(Color{1, 0, 0, 1}));  // a colour object is no plist value
    Error error;
    EXPECT_FALSE(SettingsFile::write(unwritable, path, &error));
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "old");
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
        EXPECT_EQ(entry.path().filename().string().rfind("keep.qcf.", 0), std::string::npos)
            << "a temporary file was left: " << entry.path();
    }
}

// Imported settings are stored and shown at once: the colours are in force before any pane is
// saved, and after quitting and starting again (where the connection dialog saves the record
// the start read) the name, alert switches, long-click time and display switches are still the
// imported ones.
TEST_F(SettingsFileTest, ImportedSettingsShowAtOnceAndOutliveAQuitAndTheNextStart) {
    launch();
    const Color imported{1, 0, 0, 1};
    const Color before{0, 0, 1, 1};
    auto apply = [&](const std::string& name, bool on, float longClick, const Color& audio) {
        settings().setChatUsername(name);
        settings().setShowRFAlerts(on);
        settings().setShowBatteryAlerts(on);
        settings().setShowAudio(on);
        settings().setFlipChannelStrip(!on);
        settings().setLongClickDuration(longClick);
        ASSERT_TRUE(ColorHelper::saveColorForKey("colorForAudio", audio));
        ColorHelper::sharedInstance().updateColors();
        ASSERT_TRUE(settings().saveSettings());
        ASSERT_TRUE(defaults().synchronize());
    };
    ASSERT_NO_FATAL_FAILURE(apply("Imported", false, 2.0f, imported));
    exportTo(file("show.qcf"));
    ASSERT_NO_FATAL_FAILURE(apply("Before", true, 0.5f, before));

    importFrom(file("show.qcf"));
    ASSERT_TRUE(alerts.texts.empty());
    EXPECT_EQ(ColorHelper::colorForArray(ColorHelper::colorForAudio()), imported);

    // Quit, start again; the connection dialog stores the record it read at the start.
    window->viewWillDisappear();
    auto startAgain = [] {
        UserSettingsManager::resetSharedInstance();
        ColorHelper::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
    };
    startAgain();
    ASSERT_TRUE(settings().saveSettings());
    ASSERT_TRUE(defaults().synchronize());
    startAgain();
    EXPECT_EQ(settings().chatUsername(), "Imported");
    EXPECT_FALSE(settings().showRFAlerts());
    EXPECT_FALSE(settings().showBatteryAlerts());
    EXPECT_FALSE(settings().showAudio());
    EXPECT_TRUE(settings().flipChannelStrip());
    EXPECT_FLOAT_EQ(settings().longClickDuration(), 2.0f);
    EXPECT_EQ(ColorHelper::colorForArray(ColorHelper::colorForAudio()), imported);
}

// The server's warnings stay on the strips through an import: the import refreshes the strips
// as a save of the preferences does, but only the server's next warnings may take one away.
TEST_F(SettingsFileTest, TheWarningsTheStripsShowOutliveAnImport) {
    initQuenbrilResources();
    installStripWidgetFactories(sharedStripViewServices(), ChatManager::uuid);
    struct Uninstall {
        ~Uninstall() { removeStripWidgetFactories(); }
    } uninstall;
    settings().setActAsClient(true);
    launch();
    window->showMainWindow();
    exportTo(file("same.qcf"));
    auto dispatch = [&](const char* command, Value value) {
        controller->messageReceivedFromServer(
            Value(Dictionary{{"Command", command}, {"Value", std::move(value)}}));
    };
    dispatch("Channels", Array{strip(1), strip(2)});
    ASSERT_EQ(manager().controllers().size(), 2u);
    auto* warned = dynamic_cast<ChannelStrip*>(manager().controllerWithCSID(1)->view());
    auto* quiet = dynamic_cast<ChannelStrip*>(manager().controllerWithCSID(2)->view());
    ASSERT_NE(warned, nullptr);
    ASSERT_NE(quiet, nullptr);
    const QImage before = warned->grab().toImage();

    dispatch("ChannelWarnings", Array{int64_t{1}, 1});
    loop_->runPending();
    loop_->advance(2 * ChannelStrip::kWarningFadeTime + 0.1);
    ASSERT_EQ(warned->currentWarning(), 1);
    const QImage shown = warned->grab().toImage();
    ASSERT_NE(shown, before) << "the SCP warning shows on the strip";

    importFrom(file("same.qcf"));
    ASSERT_TRUE(alerts.texts.empty());
    loop_->runPending();
    loop_->advance(2 * ChannelStrip::kWarningFadeTime + 0.1);
    EXPECT_EQ(warned->currentWarning(), 1);
    EXPECT_EQ(quiet->currentWarning(), 0);
    EXPECT_EQ(warned->grab().toImage(), shown);
}

}  // namespace
}  // namespace quenbril::test
