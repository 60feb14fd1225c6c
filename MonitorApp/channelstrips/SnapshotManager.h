#pragma once

#include <cstdint>

#include "MonitorApp/channelstrips/Snapshot.h"
#include "foundation/Value.h"

namespace quenbril {

/// The server's snapshot list and the snapshot applied last.
class SnapshotManager {
  public:
    static SnapshotManager& sharedInstance();

    /// A snapshot read from a snapshot dictionary. Missing numbers give 0, missing arrays empty
    /// lists; a group name that is not a string is skipped with a log line and keeps its place
    /// (its group number) as an empty name, a "channelSettings" entry that is not a dictionary
    /// is skipped with a log line, and a field of the wrong kind inside an entry
    /// reads as missing (0).
    static Snapshot snapshotFromDictionary(const Dictionary& dictionary);

    /// One entry per snapshot, each an array whose first element is the title and whose last
    /// is its order index (the "Value" of "SnapshotNames").
    Array& snapshotNames() { return snapshotNames_; }
    void setSnapshotNames(Array names) { snapshotNames_ = std::move(names); }
    int32_t selectedSnapshot() const { return selectedSnapshot_; }
    void setSelectedSnapshot(int32_t v) { selectedSnapshot_ = v; }

  private:
    Array snapshotNames_;
    int32_t selectedSnapshot_ = 0;
};

}  // namespace quenbril
