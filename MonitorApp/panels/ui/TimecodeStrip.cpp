#include "MonitorApp/panels/ui/TimecodeStrip.h"

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/settings/LTCManager.h"

namespace quenbril {

std::optional<SMPTETimecode> timecodeStripTimecode() {
    std::optional<SMPTETimecode> timecode;
    for (const auto& controller : ChannelStripManager::channelStripControllers()) {
        if (controller->model().wirelessName() == "LTC Timecode") {
            timecode = LTCManager::sharedInstance().getTimecode(controller->model().csID());
        }
    }
    return timecode;
}

}  // namespace quenbril
