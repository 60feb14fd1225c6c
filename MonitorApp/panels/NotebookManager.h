#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "MonitorApp/panels/TimelineEntry.h"
#include "MonitorApp/settings/SMPTETimecode.h"
#include "foundation/Value.h"

namespace quenbril {

class NotificationCenter;

/// The remote's copy of the server's notebook: the notes in the order the server sent them,
/// then the notes added on this remote, which the server does not know (teID 0): they are the
/// user's typing and stay at the end, in their order, whenever a new list comes. Main thread
/// only.
class NotebookManager {
  public:
    using Entries = std::vector<std::shared_ptr<TimelineEntry>>;

    /// Posted (no user info) after each replacement of the list.
    static constexpr const char* kNoteAddedNotification = "NoteAdded";

    static NotebookManager& sharedInstance();
    /// Tests: drops the shared instance (a restart).
    static void resetSharedInstance();

    /// Posts its "NoteAdded" to `center`.
    explicit NotebookManager(NotificationCenter& center) : center_(center) {}

    /// Replaces the server's entries with one per note dictionary, in order (other elements are
    /// skipped with a log line), keeps the local notes still listed after them, then posts
    /// "NoteAdded", also for an empty array.
    void refreshFromArray(const Array& notes);
    /// Appends a note made on this remote; it stays until it is taken out of the list.
    void addLocalEntry(std::shared_ptr<TimelineEntry> entry);
    /// The dictionary form of every entry, in list order.
    Array array();

    /// {"hours", "mins", "secs", "frame"}, each the low 8 bits of its field as an unsigned
    /// number.
    static Dictionary dictionaryFromSMPTETimecode(const SMPTETimecode& timecode);
    /// Each field the unsigned 8-bit value of its number; missing or not a number reads as 0.
    static SMPTETimecode SMPTETimecodeFromDictionary(const Dictionary& dictionary);

    Entries& notebookEntries() { return notebookEntries_; }
    void setNotebookEntries(Entries v) { notebookEntries_ = std::move(v); }
    /// The strip the user last asked a new note for; 0 at start.
    int64_t latestCsID() const { return latestCsID_; }
    void setLatestCsID(int64_t v) { latestCsID_ = v; }

  private:
    NotificationCenter& center_;
    Entries notebookEntries_;
    // The notes added here, told from the server's by identity: a server note may have teID 0.
    Entries localEntries_;
    int64_t latestCsID_ = 0;
};

}  // namespace quenbril
