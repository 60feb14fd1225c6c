#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MonitorApp/channelstrips/ChannelSettings.h"
#include "foundation/Value.h"

namespace quenbril {

/// A snapshot of the server: which group each strip belongs to and the names of the groups.
class Snapshot {
  public:
    /// The snapshot dictionary of the record.
    Dictionary property() const;

    const std::string& title() const { return title_; }
    void setTitle(std::string v) { title_ = std::move(v); }
    int32_t orderIndex() const { return orderIndex_; }
    void setOrderIndex(int32_t v) { orderIndex_ = v; }
    int32_t midiB1() const { return midiB1_; }
    void setMidiB1(int32_t v) { midiB1_ = v; }
    int32_t midiB2() const { return midiB2_; }
    void setMidiB2(int32_t v) { midiB2_ = v; }
    int32_t midiChannel() const { return midiChannel_; }
    void setMidiChannel(int32_t v) { midiChannel_ = v; }
    int32_t midiCommand() const { return midiCommand_; }
    void setMidiCommand(int32_t v) { midiCommand_ = v; }
    /// Element 0 belongs to "no group"; element g (1 to 8) names group g.
    std::vector<std::string>& groupNames() { return groupNames_; }
    const std::vector<std::string>& groupNames() const { return groupNames_; }
    std::vector<ChannelSettings>& channelSettings() { return channelSettings_; }
    const std::vector<ChannelSettings>& channelSettings() const { return channelSettings_; }

  private:
    std::string title_;
    int32_t orderIndex_ = 0;
    int32_t midiB1_ = 0;
    int32_t midiB2_ = 0;
    int32_t midiChannel_ = 0;
    int32_t midiCommand_ = 0;
    std::vector<std::string> groupNames_;
    std::vector<ChannelSettings> channelSettings_;
};

}  // namespace quenbril
