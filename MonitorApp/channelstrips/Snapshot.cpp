#include "MonitorApp/channelstrips/Snapshot.h"

namespace quenbril {

Dictionary Snapshot::property() const {
    Array names;
    names.reserve(groupNames_.size());
    for (const std::string& name : groupNames_) {
        names.emplace_back(name);
    }
    Array settings;
    settings.reserve(channelSettings_.size());
    for (const ChannelSettings& entry : channelSettings_) {
        settings.emplace_back(
            Dictionary{{"csID", entry.csID()}, {"groupIndex", entry.groupIndex()}});
    }
    return Dictionary{{"title", title_},
                      {"orderIndex", orderIndex_},
                      {"midiB1", midiB1_},
                      {"midiB2", midiB2_},
                      {"midiChannel", midiChannel_},
                      {"midiCommand", midiCommand_},
                      {"groupNames", std::move(names)},
                      {"channelSettings", std::move(settings)}};
}

}  // namespace quenbril
