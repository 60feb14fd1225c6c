#include "MonitorApp/settings/ChannelStripModel.h"

#include <random>

namespace quenbril {

// Zero means "no strip" everywhere, so it is never drawn.
int64_t ChannelStripModel::randomStripID() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> distribution(1, UINT32_MAX);
    return static_cast<int64_t>(distribution(generator));
}

ChannelStripModel::ChannelStripModel()
    : scpEnabled_(true),
      rfWarnEnabled_(true),
      name_("Channel strip"),
      wirelessName_("No device"),
      playerName_("No player"),
      panel_("A"),
      csID_(randomStripID()) {}

ChannelStripModel::ChannelStripModel(const Dictionary& d)
    : scpEnabled_(d["scpEnabled"].boolValue().value_or(false)),
      rfWarnEnabled_(d["rfWarnEnabled"].boolValue().value_or(false)),
      channelEnabled_(d["channelEnabled"].boolValue().value_or(true)),
      audioHistory_(d["audioHistory"].boolValue().value_or(false)),
      playerVisible_(d["playerVisible"].boolValue().value_or(true)),
      audioInput_(d["audioInput"].intValue().value_or(0)),
      pan_(d["pan"].intValue().value_or(0)),
      gain_(d["gain"].intValue().value_or(0)),
      name_(d["name"].optionalString()),
      wirelessName_(d["wirelessName"].optionalString()),
      playerName_(d["playerName"].optionalString()),
      panel_(d["panel"].optionalString()),
      csID_(d["csID"].longLongValue().value_or(0)) {}

Dictionary ChannelStripModel::property() const {
    return Dictionary{
        {"name", name_.value_or("")},
        {"wirelessName", wirelessName_.value_or("")},
        {"playerName", playerName_.value_or("")},
        {"panel", panel_.value_or("")},
        {"audioInput", audioInput_},
        {"pan", pan_},
        {"gain", gain_},
        {"scpEnabled", scpEnabled_},
        {"rfWarnEnabled", rfWarnEnabled_},
        {"channelEnabled", channelEnabled_},
        {"csID", csID_},
        {"audioHistory", audioHistory_},
        {"playerVisible", playerVisible_},
    };
}

}  // namespace quenbril
