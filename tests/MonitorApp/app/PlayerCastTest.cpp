// The cast as the application edits it: a player file loaded into the list, a player added
// through the performer editor, the list saved to a file that reads back equal, and the same
// cast after a restart.

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/panels/PlayerFile.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {
namespace {

constexpr const char* kFixture = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
<dict><key>Name</key><string>Juliet</string><key>RoleName</key><string>Lead</string>
<key>Comments</key><string>left-handed</string></dict>
<dict><key>Name</key><string>Romeo</string><key>RoleName</key><string>Lead</string></dict>
</array></plist>
)";

using Cast = std::vector<std::pair<std::string, std::string>>;

Cast castOf(const Array& players) {
    Cast cast;
    auto text = [](const Value& v) {
        const std::string* s = v.stringValue();
        return s ? *s : std::string();
    };
    for (const Value& p : players) cast.emplace_back(text(p["Name"]), text(p["RoleName"]));
    return cast;
}

class PlayerCastTest : public StripTest {
  protected:
    // The remote asks no sound system of the machine; this outlives TearDown().
    FakeSoundBackends sound;

    void TearDown() override {
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        loop_->runPending();
        StripTest::TearDown();
    }

    static PlayerViewController* shownEditor() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* editor = dynamic_cast<PlayerViewController*>(window);
            if (editor && editor->isVisible() && !editor->readOnly()) return editor;
        }
        return nullptr;
    }
};

TEST_F(PlayerCastTest, ALoadedAndEditedCastIsSavedAndComesBackAfterARestart) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("quenbril-cast-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string fixture = (folder / "fixture.pla").string();
    const std::string saved = (folder / "saved.pla").string();
    std::ofstream(fixture) << kFixture;
    const Cast wanted = {{"Juliet", "Lead"}, {"Romeo", "Lead"}, {"Nurse", "Maid"}};

    {
        RemoteComposition composition;
        composition.appDelegate().itemTitled("Players…")->trigger();
        PlayerListViewController* list = composition.playerList();
        ASSERT_NE(list, nullptr);
        RecordingFilePanel files;
        RecordingAlerts alerts;
        list->setFilePanel(&files);
        list->setAlertPresenter(&alerts);

        files.answers = {fixture};
        list->loadClicked();
        ASSERT_EQ(PlayerManager::sharedInstance().players().size(), 2u);

        list->addButton()->click();
        loop_->runPending();
        PlayerViewController* editor = shownEditor();
        ASSERT_NE(editor, nullptr);
        editor->nameField()->setText("Nurse");
        editor->roleField()->setText("Maid");
        editor->saveButton()->click();
        loop_->runPending();
        EXPECT_EQ(castOf(PlayerManager::sharedInstance().propertyArray()), wanted);
        EXPECT_EQ(shownEditor(), nullptr) << "the editor closes on saving";

        files.answers = {saved};
        list->saveAsClicked();
        Error error;
        const std::optional<Array> readBack = PlayerFile::read(saved, &error);
        ASSERT_TRUE(readBack) << error.description;
        EXPECT_EQ(castOf(*readBack), wanted);
        EXPECT_TRUE(alerts.alerts.empty());
        list->close();
    }

    // A new run on the same settings folder.
    restart();
    EXPECT_EQ(castOf(PlayerManager::sharedInstance().propertyArray()), wanted);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quenbril::test
