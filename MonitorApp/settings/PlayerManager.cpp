#include "MonitorApp/settings/PlayerManager.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "foundation/SkippedElements.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

// The shared list reads the application's defaults.
SharedInstance<PlayerManager> shared([] {
    return std::make_unique<PlayerManager>(UserDefaults::standardUserDefaults());
});

// Texts match when both are present and equal: a missing name matches nothing.
bool sameText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a && b && *a == *b;
}

// The bytes a player's texts and picture take.
size_t bytesOf(const Player& player) {
    auto length = [](const auto& field) { return field ? field->size() : 0; };
    return length(player.name()) + length(player.roleName()) + length(player.comments()) +
           length(player.image());
}

}  // namespace

PlayerManager& PlayerManager::sharedInstance() { return shared.get(); }

void PlayerManager::resetSharedInstance() { shared.reset(); }

PlayerManager::PlayerManager(const UserDefaults& defaults) {
    if (auto stored = defaults.arrayForKey(kPlayersKey)) {
        updateFromArray(*stored);
    }
}

void PlayerManager::updateFromArray(const Array& players) {
    SkippedElements skipped("Players");
    for (size_t i = 0; i < players.size(); ++i) {
        if (const Dictionary* dictionary = players[i].dictionaryValue()) {
            players_.push_back(std::make_shared<Player>(*dictionary));
        } else {
            skipped.add(i, players[i]);
        }
    }
}

void PlayerManager::addFromDic(const Dictionary& dictionary) {
    auto player = std::make_shared<Player>(dictionary);
    auto& players = players_;
    std::shared_ptr<Player> replaced;
    for (const auto& existing : players) {
        if (sameText(existing->name(), player->name()) &&
            sameText(existing->roleName(), player->roleName())) {
            QLOG("Player %s already existed, replacing...", existing->name().value_or("").c_str());
            replaced = existing;
        }
    }
    size_t count = 1;
    size_t bytes = bytesOf(*player);
    for (const auto& existing : players) {
        if (existing == replaced) continue;
        ++count;
        bytes += bytesOf(*existing);
    }
    if (count > kMaxPlayers || bytes > kMaxPlayerBytes) {
        log(LogLevel::Warning, "NewPlayer: refused, the list would hold %zu players of %zu bytes",
            count, bytes);
        return;
    }
    if (replaced) {
        std::erase(players, replaced);
    }
    players.push_back(std::move(player));
}

Array PlayerManager::propertyArray() const {
    Array array;
    for (const auto& player : players_) {
        array.push_back(player->propertyDic());
    }
    return array;
}

}  // namespace quenbril
