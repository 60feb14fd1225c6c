#pragma once

#include <cstdint>
#include <functional>

#include "foundation/Value.h"

namespace quenbril {

/// Reads a flat id/value array of the server ("ChannelWarnings", "BatteryData",
/// "BatteryTimeData", "AntennaData"): an element taken while no id is pending becomes the
/// pending id, the next element is that id's value. An id of 0 names no strip and never starts
/// a pair; an id element that is not a number is skipped with a log line. A trailing id without
/// a value gives nothing. `what` names the message in log lines.
void forEachIdValuePair(const Array& values, const char* what,
                        const std::function<void(int64_t id, const Value& value)>& apply);

}  // namespace quenbril
