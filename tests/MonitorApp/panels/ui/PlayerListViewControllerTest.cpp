// The player list window: player files loaded, saved and refused, rows removed, the editor
// opened, and the list stored however the window closes.

#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QWindow>
#include <filesystem>
#include <fstream>

#include "MonitorApp/panels/PlayerFile.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/PropertyList.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {
namespace {

/// The editor as the list sees it: records the index it was opened for, and closes on demand.
class FakeEditor : public SegueDestination {
  public:
    FakeEditor(int32_t index, std::function<void()> closed)
        : playerIndex(index), closed_(std::move(closed)) {}
    void show() override { ++shown; }
    void close() { closed_(); }

    int32_t playerIndex;
    int shown = 0;

  private:
    std::function<void()> closed_;
};

class PlayerListTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        files_ = std::filesystem::path(root_) / "files";
        std::filesystem::create_directory(files_);
        list = std::make_unique<PlayerListViewController>(sharedPanelServices());
        list->setAlertPresenter(&alerts);
        list->setFilePanel(&panel);
        list->setEditorMaker([this](int32_t index, std::function<void()> closed) {
            auto editor = std::make_shared<FakeEditor>(index, std::move(closed));
            editors.push_back(editor);
            return editor;
        });
    }
    void TearDown() override {
        list.reset();
        editors.clear();
        loop_->runPending();
        SettingsTest::TearDown();
    }

    static PlayerManager& players() { return PlayerManager::sharedInstance(); }
    std::string file(const std::string& name) const { return (files_ / name).string(); }

    static std::shared_ptr<Player> player(const char* name, const char* role = nullptr) {
        auto p = std::make_shared<Player>();
        p->setName(name);
        if (role) p->setRoleName(role);
        return p;
    }
    static void cast(std::initializer_list<const char*> names) {
        players().players().clear();
        for (const char* name : names) players().players().push_back(player(name));
    }

    /// The rows as the table shows them.
    std::vector<std::string> rows() const {
        std::vector<std::string> shown;
        QAbstractItemModel* model = list->tableView()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            shown.push_back(model->data(model->index(row, 0)).toString().toStdString());
        }
        return shown;
    }
    void select(std::initializer_list<int> selected) {
        QItemSelectionModel* selection = list->tableView()->selectionModel();
        selection->clearSelection();
        for (int row : selected) {
            selection->setCurrentIndex(list->tableView()->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    void open() { list->show(); }
    /// The stored list as the next start reads it.
    static std::vector<std::string> storedNames() {
        const std::filesystem::path file = defaults().path();
        const UserDefaults stored(file.parent_path().string(), file.stem().string());
        std::vector<std::string> names;
        const PlayerManager next(stored);
        for (const auto& p : next.players()) names.push_back(p->displayName());
        return names;
    }

    std::unique_ptr<PlayerListViewController> list;
    RecordingAlerts alerts;
    RecordingFilePanel panel;
    std::vector<std::shared_ptr<FakeEditor>> editors;
    std::filesystem::path files_;
};

// A file as another program may have written it: one element that is no player, a role of the
// wrong kind, a player with no name.
constexpr const char* kFixture = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
  <dict><key>Name</key><string>Bob</string><key>RoleName</key><string>Lead</string>
        <key>Comments</key><string>&lt;i&gt;tall&lt;/i&gt;</string></dict>
  <string>not a player</string>
  <dict><key>Name</key><string>Cy</string><key>RoleName</key><integer>5</integer></dict>
</array>
</plist>
)";

TEST_F(PlayerListTest, AFileLoadedTwiceListsItsPlayersTwiceAfterTheOnesThere) {
    cast({"Ann"});
    std::ofstream(file("Cast.pla")) << kFixture;
    open();
    panel.answers = {file("Cast.pla"), file("Cast.pla")};
    list->loadClicked();
    list->loadClicked();
    ASSERT_EQ(panel.requests.size(), 2u);
    EXPECT_EQ(panel.requests[0].kind, FilePanel::Request::Kind::Open);
    EXPECT_EQ(panel.requests[0].allowedTypes, std::vector<std::string>{"pla"});
    EXPECT_EQ(rows(), (std::vector<std::string>{"Ann", "Bob as Lead", "Cy", "Bob as Lead", "Cy"}));
    EXPECT_EQ(players().players()[1]->comments(), "<i>tall</i>");  // plain text, kept as is
    EXPECT_FALSE(players().players()[2]->roleName());              // the wrong kind: missing
    EXPECT_TRUE(alerts.alerts.empty());
    // A cancelled panel loads nothing.
    list->loadClicked();
    EXPECT_EQ(rows().size(), 5u);
}

TEST_F(PlayerListTest, RemovingSeveralSelectedRowsRemovesThemAllAtOnce) {
    cast({"A", "B", "C", "D", "E"});
    open();
    select({4, 0, 2});
    list->removeClicked();
    EXPECT_EQ(rows(), (std::vector<std::string>{"B", "D"}));
    list->tableView()->selectionModel()->clearSelection();
    list->removeClicked();  // nothing selected: nothing removed
    EXPECT_EQ(rows().size(), 2u);
}

TEST_F(PlayerListTest, ASavedListReadsBackEqualWithThePlaceholderForAPlayerWithoutPicture) {
    cast({"Ann", "Bob"});
    players().players()[0]->setRoleName("Lead");
    players().players()[0]->setImage(Bytes{0xFF, 0xD8, 0xFF, 0xE0});
    open();
    panel.answers = {file("Saved.pla")};
    list->saveAsClicked();
    ASSERT_EQ(panel.requests.size(), 1u);
    EXPECT_EQ(panel.requests[0].kind, FilePanel::Request::Kind::Save);
    EXPECT_EQ(panel.requests[0].allowedTypes, std::vector<std::string>{"pla"});
    EXPECT_TRUE(alerts.alerts.empty());

    const std::optional<Value> saved = PropertyList::readFile(file("Saved.pla"));
    ASSERT_TRUE(saved && saved->arrayValue());
    const Array& array = *saved->arrayValue();
    ASSERT_EQ(array.size(), 2u);
    EXPECT_EQ(array[0], (Value(Dictionary{{"Name", "Ann"},
                                          {"RoleName", "Lead"},
                                          {"Image", Bytes{0xFF, 0xD8, 0xFF, 0xE0}},
                                          {"Comments", ""}})));
    EXPECT_EQ(*array[1].dictionaryValue()->operator[]("Image").dataValue(),
              Player::dropImageHere());
    // Loaded into an empty list, the file gives the same list again.
    const Array before = players().propertyArray();
    players().players().clear();
    panel.answers = {file("Saved.pla")};
    list->loadClicked();
    EXPECT_EQ(players().propertyArray(), before);
    EXPECT_EQ(rows(), (std::vector<std::string>{"Ann as Lead", "Bob"}));
}

TEST_F(PlayerListTest, AFileThatCannotBeLoadedGetsAnAlertNamingItAndChangesNothing) {
    cast({"Ann", "Bob"});
    std::ofstream(file("Damaged.pla")) << std::string(kFixture).substr(0, 300);
    std::ofstream(file("Dictionary.pla"))
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Name</key>"
           "<string>Eve</string></dict></plist>";
    std::ofstream(file("Huge.pla")) << kFixture;
    std::filesystem::resize_file(file("Huge.pla"), PlayerFile::kMaxFileSize + 1);
    open();
    const Array before = players().propertyArray();
    for (const char* name : {"Damaged.pla", "Dictionary.pla", "Huge.pla", "Missing.pla"}) {
        alerts.alerts.clear();
        panel.answers = {file(name)};
        list->loadClicked();
        ASSERT_EQ(alerts.alerts.size(), 1u) << name;
        EXPECT_NE(alerts.alerts[0].messageText.find(name), std::string::npos)
            << alerts.alerts[0].messageText;
        EXPECT_FALSE(alerts.alerts[0].informativeText.empty()) << name;
        EXPECT_EQ(players().propertyArray(), before) << name;
        EXPECT_EQ(rows(), (std::vector<std::string>{"Ann", "Bob"})) << name;
    }
    EXPECT_NE(alerts.alerts[0].informativeText.find("No such file"), std::string::npos);
}

TEST_F(PlayerListTest, ASaveThatDidNotHappenIsReported) {
    cast({"Ann"});
    open();
    panel.answers = {file("Gone/Saved.pla")};
    list->saveAsClicked();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_NE(alerts.alerts[0].messageText.find("Saved.pla"), std::string::npos);
    EXPECT_NE(alerts.alerts[0].informativeText.find("No such file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file("Gone")));
}

TEST_F(PlayerListTest, TheListIsStoredHoweverTheWindowCloses) {
    cast({"Ann", "Bob", "Cy"});
    open();
    select({1});
    list->removeClicked();
    // The window's close box, as the window system sends it.
    ASSERT_TRUE(list->windowHandle());
    list->windowHandle()->close();
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"Ann", "Cy"}));

    // The Close button.
    open();
    select({0});
    list->removeClicked();
    list->closeClicked();
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(storedNames(), std::vector<std::string>{"Cy"});

    // Quitting with the window open.
    open();
    players().players().push_back(player("Dee", "Drums"));
    list->applicationWillTerminate();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"Cy", "Dee as Drums"}));
    EXPECT_TRUE(alerts.alerts.empty());
}

TEST_F(PlayerListTest, AListNeverOpenedStoresNothingAtQuit) {
    cast({"From a NewPlayer message"});
    list->applicationWillTerminate();
    EXPECT_TRUE(defaults().objectForKey(PlayerManager::kPlayersKey).isNull());
}

TEST_F(PlayerListTest, AListThatCannotBeStoredSaysSo) {
    cast({"Ann"});
    open();
    // The settings folder's place is taken by a file, so the defaults cannot be written.
    std::filesystem::remove_all(std::filesystem::path(root_) / "Quenbril");
    std::ofstream(std::filesystem::path(root_) / "Quenbril") << "in the way";
    UserDefaults::resetStandardUserDefaults();
    list->closeClicked();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].messageText, "The player list could not be stored.");
}

TEST_F(PlayerListTest, AddAndEditOpenTheEditorAndItsClosingReloadsTheList) {
    cast({"Ann", "Bob"});
    open();
    list->tableView()->selectionModel()->clearSelection();
    list->editClicked();
    EXPECT_EQ(alerts.texts, std::vector<std::string>{"Please select a player first."});
    EXPECT_TRUE(editors.empty());

    list->addButton()->click();
    ASSERT_EQ(editors.size(), 1u);
    EXPECT_EQ(editors[0]->playerIndex, -1);
    EXPECT_EQ(editors[0]->shown, 1);
    // The editor appends its new player and closes: the table shows it.
    players().players().push_back(player("Cy"));
    editors[0]->close();
    EXPECT_EQ(rows(), (std::vector<std::string>{"Ann", "Bob", "Cy"}));

    select({1});
    list->editButton()->click();
    ASSERT_EQ(editors.size(), 2u);
    EXPECT_EQ(editors[1]->playerIndex, 1);
    // An editor's save, while the list is open, reloads it too.
    players().players()[1]->setRoleName("Bass");
    NotificationCenter::defaultCenter().post(PlayerListViewController::kPlayerUpdatedNotification);
    EXPECT_EQ(rows()[1], "Bob as Bass");
    editors[1]->close();
    loop_->runPending();
    // The list let both editors go once they had closed.
    EXPECT_EQ(editors[0].use_count(), 1);
    EXPECT_EQ(editors[1].use_count(), 1);
}

TEST_F(PlayerListTest, AListOpenedWhileLockedIsCoveredAtOnce) {
    UserSettingsManager::sharedInstance().setIsLocked(true);
    open();
    EXPECT_TRUE(list->isCovered());
}

TEST_F(PlayerListTest, TheListShowsThePlayersOfTheManagerItIsMadeWith) {
    cast({"Shared"});
    PlayerManager own(defaults());
    own.players().push_back(player("Own"));
    const PanelServices shared = sharedPanelServices();
    PlayerListViewController mine(PanelServices{
        shared.center, shared.defaults, shared.settings, shared.strips, own, shared.playback,
        shared.notebook, shared.timecode, shared.colors, shared.engine});
    mine.show();
    QAbstractItemModel* model = mine.tableView()->model();
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->data(model->index(0, 0)).toString(), "Own");
}

}  // namespace
}  // namespace quenbril
