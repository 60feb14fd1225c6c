#pragma once

#include "MonitorApp/dispatch/RemoteContext.h"

namespace quenbril {

/// The remote's services over the process's shared instances, with `clock` for the time of
/// day: what the composition hands the dispatcher, and what tests, benchmarks and fuzzers that
/// run the dispatcher over the shared instances make. No Qt, so that the builds without it
/// have it too.
RemoteContext sharedRemoteContext(const ShortTimeClock& clock);

}  // namespace quenbril
