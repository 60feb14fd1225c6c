#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace quenbril {

class ChannelStripController;
class ChannelStripManager;

/// Finds the strip manager's strips by id through a map, so a table of thousands of
/// notes does not walk the strip list once per cell. The map is made on first use and made
/// again whenever the strip list no longer matches it. Main thread only.
class StripLookup {
  public:
    explicit StripLookup(const ChannelStripManager& strips) : strips_(strips) {}
    /// The first strip with that id; null for 0 and for an id no strip has.
    ChannelStripController* find(int64_t csID);
    /// Forgets the map (the strips were edited).
    void invalidate() { built_ = false; }

  private:
    void build();

    const ChannelStripManager& strips_;
    bool built_ = false;
    size_t builtFor_ = 0;
    std::unordered_map<int64_t, size_t> positions_;
};

}  // namespace quenbril
