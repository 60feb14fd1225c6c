#include "simserver/SimNotebook.h"

#include <algorithm>

#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"

namespace quenbril {

size_t SimNotebook::cost(const Entry& entry) {
    return entry.note.size() + entry.creator.size() + kEntryOverhead;
}

std::optional<int32_t> SimNotebook::add(Entry entry) {
    if (entry.note.size() + entry.creator.size() > kMaxEntryBytes) return std::nullopt;
    entry.teID = nextID_;
    // Ids stay positive and unique for as long as the notes they name can exist.
    nextID_ = nextID_ == INT32_MAX ? 1 : nextID_ + 1;
    bytes_ += cost(entry);
    entries_.push_back(std::move(entry));
    size_t dropped = 0;
    while (entries_.size() - dropped > kLimit || bytes_ > kMaxBytes) {
        bytes_ -= cost(entries_[dropped]);
        ++dropped;
    }
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(dropped));
    return entries_.back().teID;
}

bool SimNotebook::remove(int32_t teID) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.teID == teID; });
    if (it == entries_.end()) return false;
    bytes_ -= cost(*it);
    entries_.erase(it);
    return true;
}

Dictionary SimNotebook::entriesMessage() const {
    Array values;
    for (const Entry& e : entries_) {
        Dictionary d;
        d.set("Note", e.note);
        d.set("Creator", e.creator);
        d.set("Time", Value::date(e.time));
        d.set("csID", Value(e.csID));
        d.set("teID", Value(e.teID));
        d.set("Hours", Value(e.hours));
        d.set("Mins", Value(e.mins));
        d.set("Secs", Value(e.secs));
        d.set("Frame", Value(e.frame));
        values.push_back(Value(std::move(d)));
    }
    Dictionary m = LinkMessageBuilder::message(LinkCommand::kNotebookEntries);
    m.set(Value(LinkKey::kValues), Value(std::move(values)));
    return m;
}

}  // namespace quenbril
