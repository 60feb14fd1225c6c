#include <gtest/gtest.h>

#include "SettingsTestEnvironment.h"

namespace quenbril {
namespace {

using PlayerManagerTest = SettingsTest;

Dictionary playerDic(const char* name, const char* role, Bytes image = {1, 2, 3}) {
    return Dictionary{{"Name", name}, {"RoleName", role}, {"Image", image}, {"Comments", ""}};
}

std::vector<std::string> displayNames() {
    std::vector<std::string> names;
    for (const auto& p : PlayerManager::sharedInstance().players()) {
        names.push_back(p->displayName());
    }
    return names;
}

TEST(Player, DisplayNameAddsTheRoleOnlyWhenThereIsOne) {
    Player ann{playerDic("Ann", "Juliet")};
    EXPECT_EQ(ann.displayName(), "Ann as Juliet");
    ann.setRoleName("");
    EXPECT_EQ(ann.displayName(), "Ann");
    ann.setRoleName(std::nullopt);
    EXPECT_EQ(ann.displayName(), "Ann");
}

TEST(Player, PropertyDicFillsMissingFieldsAndKeepsTheFills) {
    Player player{Dictionary{{"Name", "Bo"}, {"Image", "not data"}, {"RoleName", 3}}};
    EXPECT_FALSE(player.image()) << "a picture must be data";
    EXPECT_FALSE(player.roleName());
    EXPECT_EQ(player.propertyDic(), (Dictionary{{"Name", "Bo"},
                                                {"RoleName", ""},
                                                {"Comments", ""},
                                                {"Image", Player::dropImageHere()}}));
    const Bytes& image = Player::dropImageHere();
    ASSERT_GT(image.size(), 8u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{'I', 'I', 42, 0})) << "a TIFF file";
    EXPECT_EQ(player.image(), Player::dropImageHere());
    EXPECT_EQ(player.roleName(), "");
}

TEST_F(PlayerManagerTest, ReannouncedPlayerMovesToTheEndAndIsLoggedOnce) {
    PlayerManager::sharedInstance().updateFromArray(
        Array{playerDic("Ann", "Juliet"), playerDic("Cy", "Romeo")});
    testing::internal::CaptureStderr();
    PlayerManager::sharedInstance().addFromDic(playerDic("Ann", "Juliet", {9}));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find("Player Ann already existed, replacing..."), std::string::npos);
    EXPECT_EQ(logged.find("replacing", logged.find("replacing") + 1), std::string::npos);
    EXPECT_EQ(displayNames(), (std::vector<std::string>{"Cy as Romeo", "Ann as Juliet"}));
    EXPECT_EQ(PlayerManager::sharedInstance().players()[1]->image(), Bytes{9});

    PlayerManager::sharedInstance().addFromDic(playerDic("Ann", "Nurse"));
    EXPECT_EQ(displayNames(),
              (std::vector<std::string>{"Cy as Romeo", "Ann as Juliet", "Ann as Nurse"}));
}

TEST_F(PlayerManagerTest, AnnouncedPlayersAreBoundedInCountAndBytes) {
    // 3,000 announcements of 100 KB each took 300 MB.
    PlayerManager& players = PlayerManager::sharedInstance();
    const Bytes picture(100 * 1024, 7);
    size_t bytes = 0;
    for (int i = 0; i < 700; ++i) {
        players.addFromDic(playerDic(("P" + std::to_string(i)).c_str(), "", picture));
    }
    for (const auto& p : players.players()) bytes += p->image()->size() + p->name()->size();
    EXPECT_LE(bytes, PlayerManager::kMaxPlayerBytes);
    EXPECT_GT(bytes, PlayerManager::kMaxPlayerBytes - picture.size() - 16);
    // A player announced again still replaces its entry.
    players.addFromDic(playerDic("P0", "", {1}));
    EXPECT_EQ(players.players().back()->image(), Bytes{1});

    players.setPlayers({});
    for (size_t i = 0; i < PlayerManager::kMaxPlayers + 50; ++i) {
        players.addFromDic(playerDic(("Q" + std::to_string(i)).c_str(), "", {}));
    }
    EXPECT_EQ(players.players().size(), PlayerManager::kMaxPlayers);
}

TEST_F(PlayerManagerTest, AnAnnouncedPlayerJoinsTheListItIsAddedTo) {
    UserDefaults ownDefaults("/nonexistent/quenbril-own-players", "Defaults");
    PlayerManager own(ownDefaults);
    own.addFromDic(playerDic("Ann", "Juliet"));
    ASSERT_EQ(own.players().size(), 1u);
    EXPECT_EQ(own.players()[0]->displayName(), "Ann as Juliet");
    EXPECT_TRUE(displayNames().empty()) << "the shared list is left alone";
}

TEST_F(PlayerManagerTest, PlayerFileLoadedTwiceListsEveryPlayerTwice) {
    Array file{playerDic("Ann", ""), "junk", playerDic("Cy", "Romeo")};
    testing::internal::CaptureStderr();
    PlayerManager::sharedInstance().updateFromArray(file);
    PlayerManager::sharedInstance().updateFromArray(file);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(displayNames(),
              (std::vector<std::string>{"Ann", "Cy as Romeo", "Ann", "Cy as Romeo"}));
}

TEST_F(PlayerManagerTest, StoredListIsLoadedAtStartAndWrittenInTheSameShape) {
    EXPECT_TRUE(PlayerManager::sharedInstance().players().empty());
    PlayerManager::sharedInstance().updateFromArray(
        Array{playerDic("Ann", "Juliet"), Dictionary{{"Name", "Dee"}}});
    const Array written = PlayerManager::sharedInstance().propertyArray();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1]["Image"], Value(Player::dropImageHere()));
    ASSERT_TRUE(defaults().setObject(written, PlayerManager::kPlayersKey));

    restart();
    EXPECT_EQ(displayNames(), (std::vector<std::string>{"Ann as Juliet", "Dee"}));
    EXPECT_EQ(PlayerManager::sharedInstance().propertyArray(), written);
}

}  // namespace
}  // namespace quenbril
