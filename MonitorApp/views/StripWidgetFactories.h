#pragma once

#include <functional>
#include <string>

#include "MonitorApp/views/StripViewServices.h"

namespace quenbril {

/// Installs, in one go, the factories of the strip widgets: the strip views the strip
/// controllers make, the group buttons of the header's group row and the strip area's level
/// display. The application calls it once, before its main window is made. Calling it again
/// installs the same factories again. `services` are handed to every view the factories make;
/// `chatId` answers this station's chat id, which the strips' long clicks carry.
void installStripWidgetFactories(const StripViewServices& services,
                                 std::function<std::string()> chatId);

/// Removes the three factories (tests, and the end of a run): later strips get no view.
void removeStripWidgetFactories();

}  // namespace quenbril
