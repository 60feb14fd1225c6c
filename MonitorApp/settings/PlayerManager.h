#pragma once

#include <memory>
#include <vector>

#include "MonitorApp/settings/Player.h"
#include "foundation/Value.h"

namespace quenbril {

class UserDefaults;

/// The cast list the strips refer to by display name. Loaded from the user defaults
/// ("players") when made; the player list window writes it back. Main thread only.
class PlayerManager {
  public:
    /// The user-defaults key of the stored list.
    static constexpr const char* kPlayersKey = "players";

    static PlayerManager& sharedInstance();
    /// Tests: drops the shared instance; the next one loads the stored list again.
    static void resetSharedInstance();

    /// The list stored in `defaults`, one player per dictionary (other elements are skipped with
    /// a log line).
    explicit PlayerManager(const UserDefaults& defaults);

    /// Appends one player per dictionary, in order, after the players already listed.
    void updateFromArray(const Array& players);
    /// The most players the server's "NewPlayer" messages may make the list hold, and the most
    /// bytes of text and pictures: as much as a player file holds.
    static constexpr size_t kMaxPlayers = 1000;
    static constexpr size_t kMaxPlayerBytes = 64u << 20;

    /// Adds the player a "NewPlayer" message announces: a player of the same name and role
    /// already listed is replaced, and the new one goes to the end of the list. A player that
    /// would take the list past kMaxPlayers or kMaxPlayerBytes is refused with a log line.
    void addFromDic(const Dictionary& player);
    /// The `propertyDic` of every player, in list order.
    Array propertyArray() const;

    std::vector<std::shared_ptr<Player>>& players() { return players_; }
    const std::vector<std::shared_ptr<Player>>& players() const { return players_; }
    void setPlayers(std::vector<std::shared_ptr<Player>> v) { players_ = std::move(v); }

  private:
    std::vector<std::shared_ptr<Player>> players_;
};

}  // namespace quenbril
