#include "MonitorApp/views/StripWidgetFactories.h"

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/PlaceholderLevelDisplay.h"
#include "MonitorApp/channelstrips/ui/PlaceholderStripView.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/views/GroupButton.h"

namespace quenbril {

void installStripWidgetFactories() {
    ChannelStripController::setViewFactory([]() -> std::unique_ptr<ChannelStripView> {
        return std::make_unique<PlaceholderStripView>();
    });
    GroupButtonContainerWidget::setButtonFactory([](QWidget& parent, const std::string& text,
                                                    const std::optional<Color>& color,
                                                    int32_t groupNumber) -> GroupButtonView* {
        // The row gives the button its frame once it is made.
        return new GroupButton(parent, text, color, Rect{}, groupNumber);
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
