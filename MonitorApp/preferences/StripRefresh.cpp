#include "MonitorApp/preferences/StripRefresh.h"

#include "MonitorApp/channelstrips/ChannelStripManager.h"

namespace quenbril {

void refreshEveryStrip(ChannelStripManager& strips) {
    for (auto& controller : strips.controllers()) {
        controller->update();
        if (ChannelStripView* view = controller->view()) {
            view->updateAppearance(controller->state());
            view->redraw();
        }
    }
}

}  // namespace quenbril
