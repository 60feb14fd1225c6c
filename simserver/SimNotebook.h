#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

/// The shared notebook the stand-in keeps for its remotes.
class SimNotebook {
  public:
    /// Notes beyond this many push out the oldest.
    static constexpr size_t kLimit = 10000;

    struct Entry {
        int32_t teID = 0;
        int64_t csID = 0;
        std::string note, creator;
        double time = 0;  // seconds since 2001-01-01
        int32_t hours = 0, mins = 0, secs = 0, frame = 0;
    };

    /// Adds a note and gives it a new id, which it returns.
    int32_t add(Entry entry);
    /// False when no note has that id.
    bool remove(int32_t teID);
    void clear() { entries_.clear(); }
    const std::vector<Entry>& entries() const { return entries_; }

    /// "NotebookEntries" with every note under "Values".
    Dictionary entriesMessage() const;

  private:
    std::vector<Entry> entries_;
    int32_t nextID_ = 1;
};

}  // namespace quenbril
