#include "DarIrudovOzuzari/ZICrashes.h"

#include "DarIrudovOzuzari/CrashReportFolders.h"
#include "DarIrudovOzuzari/CrashSignalHandler.h"
#include "DarIrudovOzuzari/PendingCrashReports.h"

namespace quenbril {

const ZIService ZICrashes::kService{"ZICrashes", &ZICrashes::startService};

void ZICrashes::startService() {
    CrashReportFolders folders = CrashReportFolders::fromEnvironment();
    PendingCrashReports::collect(folders);
    if (folders.make()) CrashSignalHandler::install(folders.pending(), QUENBRIL_VERSION);
}

}  // namespace quenbril
