#pragma once

#include <cstdint>

namespace quenbril {

class ChannelStripManager;

/// The players of strips: the player list's position of the first player whose display name
/// equals a strip's player name, in the strips and the player list of `manager`.
class PlayerStripLookup {
  public:
    /// For the strip at a list position of the strip manager; -1 when the position is outside
    /// the list or no player matches.
    static int32_t indexOfPlayerInChannelStripIndex(const ChannelStripManager& manager,
                                                    int32_t stripIndex);
    /// For the strip with that id; -1 when no strip has it or no player matches.
    static int32_t indexOfPlayerInChannelStripID(const ChannelStripManager& manager, int64_t csID);
};

}  // namespace quenbril
