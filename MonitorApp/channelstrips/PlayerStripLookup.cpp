#include "MonitorApp/channelstrips/PlayerStripLookup.h"

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/settings/PlayerManager.h"

namespace quenbril {

namespace {

int32_t indexOfPlayerNamed(const PlayerManager& playerList,
                           const ChannelStripController* controller) {
    if (!controller || !controller->model().playerName()) {
        return -1;
    }
    const std::string& playerName = *controller->model().playerName();
    const auto& players = playerList.players();
    for (size_t i = 0; i < players.size(); ++i) {
        if (players[i] && players[i]->displayName() == playerName) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

}  // namespace

int32_t PlayerStripLookup::indexOfPlayerInChannelStripIndex(const ChannelStripManager& manager,
                                                            int32_t stripIndex) {
    const auto& controllers = manager.controllers();
    if (stripIndex < 0 || static_cast<size_t>(stripIndex) >= controllers.size()) {
        return -1;
    }
    return indexOfPlayerNamed(manager.services().players,
                              controllers[static_cast<size_t>(stripIndex)].get());
}

int32_t PlayerStripLookup::indexOfPlayerInChannelStripID(const ChannelStripManager& manager,
                                                         int64_t csID) {
    return indexOfPlayerNamed(manager.services().players, manager.controllerWithCSID(csID));
}

}  // namespace quenbril
