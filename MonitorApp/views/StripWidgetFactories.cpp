#include "MonitorApp/views/StripWidgetFactories.h"

#include <utility>

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "MonitorApp/views/GroupButton.h"
#include "MonitorApp/views/PanelLevelDisplay.h"

namespace quenbril {

void installStripWidgetFactories(const StripViewServices& services,
                                 std::function<std::string()> chatId) {
    ChannelStripController::setViewFactory(
        [services, chatId = std::move(chatId)]() -> std::unique_ptr<ChannelStripView> {
            return std::make_unique<ChannelStrip>(services, chatId);
        });
    GroupButtonContainerWidget::setButtonFactory(
        [&center = services.center](QWidget& parent, const std::string& text,
                                    const std::optional<Color>& color, const Rect& frame,
                                    int32_t groupNumber) -> GroupButtonView* {
            return new GroupButton(parent, text, color, frame, groupNumber, center);
        });
    StripAreaWidget::setLevelDisplayFactory([services] {
        return makePanelLevelDisplay(
            services.engine,
            LevelDisplayServices{services.settings, services.manager, services.playback,
                                 services.center, services.colors});
    });
}

void removeStripWidgetFactories() {
    ChannelStripController::setViewFactory(nullptr);
    GroupButtonContainerWidget::setButtonFactory(nullptr);
    StripAreaWidget::setLevelDisplayFactory(nullptr);
}

}  // namespace quenbril
