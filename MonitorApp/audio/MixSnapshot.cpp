#include "MonitorApp/audio/MixSnapshot.h"

#include <algorithm>
#include <cmath>

#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ChannelStripState.h"

namespace quenbril {

StripMix StripMix::of(const ChannelStripModel& model, const ChannelStripState& state) {
    StripMix mix;
    mix.pan = model.pan();
    mix.on = state.channelState() != ChannelStripState::kOff;
    mix.gain = static_cast<float>(std::pow(10.0, model.gain() / 20.0));
    // Past +-100 the law would turn negative and invert the channel's phase.
    const float pan = static_cast<float>(std::clamp(model.pan(), -100, 100));
    const float away = 1.0f - std::fabs(pan / 100.0f);
    mix.left = mix.gain * (pan < 0 ? 1.0f : away);
    mix.right = mix.gain * (pan < 0 ? away : 1.0f);
    return mix;
}

}  // namespace quenbril
