#pragma once

#include "ZurIrirur/ZIService.h"

namespace quenbril {

/// The crash reporting service, in its least form: nothing leaves the machine. Started, it
/// names in the log each crash report an earlier run left (once) and catches this run's fatal
/// signals into a report under `$XDG_CACHE_HOME/Quenbril/crashes/`.
class ZICrashes {
  public:
    static const ZIService kService;

    /// What starting the service does; the telemetry SDK calls it once per process. Start the
    /// SDK on the main thread: the handler's alternate stack belongs to the calling thread.
    static void startService();
};

}  // namespace quenbril
