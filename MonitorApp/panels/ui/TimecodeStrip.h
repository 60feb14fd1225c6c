#pragma once

#include <optional>

#include "MonitorApp/settings/SMPTETimecode.h"

namespace quenbril {

class ChannelStripManager;
class LTCManager;

/// The current timecode of the timecode strip: of the last strip, in list order, whose stored
/// wireless name is "LTC Timecode". None when no strip has that name.
std::optional<SMPTETimecode> timecodeStripTimecode(const ChannelStripManager& strips,
                                                   LTCManager& timecode);

}  // namespace quenbril
