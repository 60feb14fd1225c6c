#include "MonitorApp/panels/ui/TimecodeStrip.h"

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/settings/LTCManager.h"

namespace quenbril {

std::optional<SMPTETimecode> timecodeStripTimecode(const ChannelStripManager& strips,
                                                   LTCManager& timecode) {
    std::optional<SMPTETimecode> found;
    for (const auto& controller : strips.controllers()) {
        if (controller->model().wirelessName() == "LTC Timecode") {
            found = timecode.getTimecode(controller->model().csID());
        }
    }
    return found;
}

}  // namespace quenbril
