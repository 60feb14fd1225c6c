#include "MonitorApp/controls/ToolSelector.h"

#include <QMouseEvent>
#include <QPainter>

#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

ToolSelector::ToolSelector(UserSettingsManager& settings, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      images_{ControlImage(QStringLiteral("Tools_1_2.png")),
              ControlImage(QStringLiteral("Tools_2_2.png")),
              ControlImage(QStringLiteral("Tools_3_2.png"))} {
    selectTool(0);
}

void ToolSelector::selectTool(int32_t tool) {
    settings_.setSelectedTool(tool);
    if (tool < 0 || tool > 2) return;
    shownTool_ = tool;
    update();
}

int ToolSelector::toolAt(float x, float width) {
    if (x < width / 3) return 0;
    if (x > 2 * width / 3) return 2;
    return 1;
}

void ToolSelector::mousePressEvent(QMouseEvent* event) {
    if (!isActive_ || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    selectTool(toolAt(static_cast<float>(event->position().x()), static_cast<float>(width())));
}

void ToolSelector::paintEvent(QPaintEvent*) {
    if (shownTool_ < 0) return;
    QPainter painter(this);
    images_[static_cast<size_t>(shownTool_)].draw(painter, rect());
}

}  // namespace quenbril
