#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "MonitorApp/channelstrips/ChannelStripManager.h"

namespace quenbril {

/// The strips of a table's rows, found by csID through a map rather than by a walk of the strip
/// list per cell. Each row remembers the csID it showed when the table was last reloaded, so a
/// row whose strip has left the list (or moved in it) since is told apart from the strip now
/// at that position. Holds no strip pointers: every look-up reads the live list, which a
/// "Channels" message may have replaced in between. Main thread only.
class StripIDMap {
  public:
    /// Takes the rows from the list as it is now.
    void reload(const ChannelStripManager::Controllers& controllers);
    /// The rows at the last reload.
    int32_t rowCount() const { return static_cast<int32_t>(rows_.size()); }
    /// The csID row `row` showed at the last reload; none outside the rows.
    std::optional<int64_t> csIDAt(int32_t row) const;
    /// The strip of row `row` in `controllers` (the list as it is now): the one at that position
    /// when it still has the row's csID, else the first strip with that csID; null when the
    /// row is out of range or its strip has left the list.
    ChannelStripController* controllerAt(const ChannelStripManager::Controllers& controllers,
                                         int32_t row);

  private:
    std::vector<int64_t> rows_;
    // csID -> the first position that had it at the last reload (or the last look-up that found
    // the list changed).
    std::unordered_map<int64_t, size_t> positions_;
    void index(const ChannelStripManager::Controllers& controllers);
};

}  // namespace quenbril
