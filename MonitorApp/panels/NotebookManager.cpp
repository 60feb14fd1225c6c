#include "MonitorApp/panels/NotebookManager.h"

#include <algorithm>

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/SharedInstance.h"
#include "foundation/SkippedElements.h"

namespace quenbril {

namespace {

// The shared notebook tells the application's notification centre.
SharedInstance<NotebookManager> shared([] {
    return std::make_unique<NotebookManager>(NotificationCenter::defaultCenter());
});

int32_t low8(const Value& v) {
    return static_cast<uint8_t>(static_cast<uint64_t>(v.longLongValue().value_or(0)));
}

}  // namespace

NotebookManager& NotebookManager::sharedInstance() { return shared.get(); }

void NotebookManager::resetSharedInstance() { shared.reset(); }

void NotebookManager::refreshFromArray(const Array& notes) {
    // Local notes the user took out of the list stay out.
    Entries kept;
    for (const auto& entry : notebookEntries_) {
        if (std::find(localEntries_.begin(), localEntries_.end(), entry) != localEntries_.end()) {
            kept.push_back(entry);
        }
    }
    localEntries_ = kept;
    notebookEntries_.clear();
    notebookEntries_.reserve(notes.size() + kept.size());
    SkippedElements skipped("Notebook");
    for (size_t i = 0; i < notes.size(); ++i) {
        const Dictionary* d = notes[i].dictionaryValue();
        if (!d) {
            skipped.add(i, notes[i]);
            continue;
        }
        notebookEntries_.push_back(TimelineEntry::makeWithProperty(*d));
    }
    notebookEntries_.insert(notebookEntries_.end(), kept.begin(), kept.end());
    center_.post(kNoteAddedNotification);
}

void NotebookManager::addLocalEntry(std::shared_ptr<TimelineEntry> entry) {
    localEntries_.push_back(entry);
    notebookEntries_.push_back(std::move(entry));
}

Array NotebookManager::array() {
    Array out;
    out.reserve(notebookEntries_.size());
    for (const auto& e : notebookEntries_) out.emplace_back(e->property());
    return out;
}

Dictionary NotebookManager::dictionaryFromSMPTETimecode(const SMPTETimecode& t) {
    auto byte = [](int32_t field) { return static_cast<int>(static_cast<uint8_t>(field)); };
    return Dictionary{{"hours", byte(t.hours)},
                      {"mins", byte(t.mins)},
                      {"secs", byte(t.secs)},
                      {"frame", byte(t.frame)}};
}

SMPTETimecode NotebookManager::SMPTETimecodeFromDictionary(const Dictionary& d) {
    return SMPTETimecode{low8(d["hours"]), low8(d["mins"]), low8(d["secs"]), low8(d["frame"])};
}

}  // namespace quenbril
