#include "MonitorApp/channelstrips/SnapshotManager.h"

#include "foundation/SkippedElements.h"

namespace quenbril {

SnapshotManager& SnapshotManager::sharedInstance() {
    static SnapshotManager instance;
    return instance;
}

Snapshot SnapshotManager::snapshotFromDictionary(const Dictionary& d) {
    Snapshot snapshot;
    if (const std::string* title = d["title"].stringValue()) {
        snapshot.setTitle(*title);
    }
    snapshot.setOrderIndex(d["orderIndex"].intValue().value_or(0));
    snapshot.setMidiB1(d["midiB1"].intValue().value_or(0));
    snapshot.setMidiB2(d["midiB2"].intValue().value_or(0));
    snapshot.setMidiChannel(d["midiChannel"].intValue().value_or(0));
    snapshot.setMidiCommand(d["midiCommand"].intValue().value_or(0));
    if (const Array* names = d["groupNames"].arrayValue()) {
        SkippedElements skipped("Snapshot: group names");
        for (size_t i = 0; i < names->size(); ++i) {
            // A name's position is its group number, so a name of the wrong kind keeps its
            // place as an empty name.
            if (const std::string* s = (*names)[i].stringValue()) {
                snapshot.groupNames().push_back(*s);
            } else {
                skipped.add(i, (*names)[i]);
                snapshot.groupNames().emplace_back();
            }
        }
    }
    if (const Array* settings = d["channelSettings"].arrayValue()) {
        SkippedElements skipped("Snapshot: channel settings");
        for (size_t i = 0; i < settings->size(); ++i) {
            const Dictionary* fields = (*settings)[i].dictionaryValue();
            if (!fields) {
                skipped.add(i, (*settings)[i]);
                continue;
            }
            ChannelSettings setting;
            setting.setCsID((*fields)["csID"].longLongValue().value_or(0));
            setting.setGroupIndex((*fields)["groupIndex"].intValue().value_or(0));
            snapshot.channelSettings().push_back(setting);
        }
    }
    return snapshot;
}

}  // namespace quenbril
