#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"

#include "MonitorApp/channelstrips/StripLayout.h"

namespace quenbril {

namespace {

GroupButtonContainerWidget::ButtonFactory& buttonFactory() {
    static GroupButtonContainerWidget::ButtonFactory factory;
    return factory;
}

// A slot of the row before the window has laid the header out.
constexpr int kSlotWidth = 64;
constexpr int kRowHeight = 36;

}  // namespace

void GroupButtonContainerWidget::setButtonFactory(ButtonFactory factory) {
    buttonFactory() = std::move(factory);
}

bool GroupButtonContainerWidget::hasButtonFactory() { return static_cast<bool>(buttonFactory()); }

GroupButtonContainerWidget::GroupButtonContainerWidget(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(kRowHeight);
}

Size GroupButtonContainerWidget::size() const {
    return Size{static_cast<double>(width()), static_cast<double>(height())};
}

GroupButtonView* GroupButtonContainerWidget::makeGroupButton(const std::string& text,
                                                             const std::optional<Color>& color,
                                                             const Rect& frame,
                                                             int32_t groupNumber) {
    const auto& factory = buttonFactory();
    GroupButtonView* button = factory ? factory(*this, text, color, frame, groupNumber) : nullptr;
    if (button) {
        button->setFrame(frame);
        button->setHidden(false);
        buttons_.emplace_back(groupNumber - 1, button);
    }
    return button;
}

QSize GroupButtonContainerWidget::sizeHint() const {
    return QSize(kGroupCount * kSlotWidth, kRowHeight);
}

void GroupButtonContainerWidget::resizeEvent(QResizeEvent*) {
    const Size row = size();
    for (const auto& [slot, button] : buttons_) button->setFrame(groupButtonFrame(slot, row));
}

}  // namespace quenbril
