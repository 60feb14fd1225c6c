#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

/// The shared notebook the stand-in keeps for its remotes. Every remote is sent the whole
/// notebook in one frame, so it is bounded in bytes as well as in notes: that frame must fit a
/// remote's write queue with room to spare.
class SimNotebook {
  public:
    /// Notes beyond this many push out the oldest.
    static constexpr size_t kLimit = 10000;
    /// Bytes of one note's text and creator together; a larger note is refused.
    static constexpr size_t kMaxEntryBytes = 16 * 1024;
    /// Bytes of the whole notebook as cost() counts them; new notes push out the oldest
    /// beyond this.
    static constexpr size_t kMaxBytes = 512 * 1024;
    /// Bytes an entry adds to "NotebookEntries" besides its text and creator (its dictionary,
    /// date and numbers), with room to spare.
    static constexpr size_t kEntryOverhead = 192;

    struct Entry {
        int32_t teID = 0;
        int64_t csID = 0;
        std::string note, creator;
        double time = 0;  // seconds since 2001-01-01
        int32_t hours = 0, mins = 0, secs = 0, frame = 0;
    };

    /// Adds a note and gives it a new id, which it returns; nothing (and nothing added) when
    /// the note holds more than kMaxEntryBytes.
    std::optional<int32_t> add(Entry entry);
    /// False when no note has that id.
    bool remove(int32_t teID);
    void clear() {
        entries_.clear();
        bytes_ = 0;
    }
    const std::vector<Entry>& entries() const { return entries_; }
    /// What the notes cost together (at most kMaxBytes).
    size_t bytes() const { return bytes_; }
    /// What one entry costs in "NotebookEntries", at most.
    static size_t cost(const Entry& entry);

    /// "NotebookEntries" with every note under "Values".
    Dictionary entriesMessage() const;

  private:
    std::vector<Entry> entries_;
    size_t bytes_ = 0;
    int32_t nextID_ = 1;
};

}  // namespace quenbril
