#include "MonitorApp/channelstrips/ui/StripWidgetFactories.h"

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/PlaceholderGroupButton.h"
#include "MonitorApp/channelstrips/ui/PlaceholderLevelDisplay.h"
#include "MonitorApp/channelstrips/ui/PlaceholderStripView.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"

namespace quenbril {

void installStripWidgetFactories() {
    ChannelStripController::setViewFactory([]() -> std::unique_ptr<ChannelStripView> {
        return std::make_unique<PlaceholderStripView>();
    });
    GroupButtonContainerWidget::setButtonFactory([](QWidget& parent, const std::string& text,
                                                    const std::optional<Color>& color,
                                                    int32_t groupNumber) -> GroupButtonView* {
        return new PlaceholderGroupButton(parent, text, color, groupNumber);
    });
    StripAreaWidget::setLevelDisplayFactory([]() -> std::unique_ptr<LevelDisplay> {
        return std::make_unique<PlaceholderLevelDisplay>();
    });
}

void removeStripWidgetFactories() {
    ChannelStripController::setViewFactory(nullptr);
    GroupButtonContainerWidget::setButtonFactory(nullptr);
    StripAreaWidget::setLevelDisplayFactory(nullptr);
}

}  // namespace quenbril
