#include "MonitorApp/views/legacy_gl/GLPanelView.h"

#include <QKeyEvent>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

GLPanelView::GLPanelView(const LevelDisplayServices& services, QWidget* parent)
    : GLLevelView(parent), input_(services) {
    setFocusPolicy(Qt::StrongFocus);
}

GLPanelFrame GLPanelView::frame() const {
    GLPanelFrame frame;
    frame.width = width();
    frame.height = height();
    frame.columns = input_.services().settings.columns();
    frame.levelCount = levelCount_;
    const ColorHelper& colors = input_.services().colors;
    frame.lineThickness = colors.thickness();
    // The colours are read at every frame, so a changed theme shows at once.
    frame.audio = vectorColor(colors.audioColor());
    frame.rf = vectorColor(colors.rfColor());
    const int32_t controllers = static_cast<int32_t>(input_.services().strips.controllers().size());
    for (int32_t strip : ltcArray_) {
        if (strip < 0 || strip >= kGLPanelStrips) continue;
        frame.ltc.set(static_cast<size_t>(strip));
        if (strip >= controllers) continue;
        const ChannelStripController* controller =
            ChannelStripManager::controllerByIndexInCurrentPanel(strip);
        if (!controller) continue;
        if (const auto* sample = controller->state().timeCodeSample()) {
            frame.timecode[static_cast<size_t>(strip)] = sample->data();
        }
    }
    return frame;
}

void GLPanelView::buildFrame(GLLineBuilder& lines) {
    buildGLPanelLines(frame(), curves_, lines);
    curves_.advance(levels_.data(), rfLevels_.data(), levelCount_);
}

void GLPanelView::keyPressEvent(QKeyEvent* event) {
    if (input_.soloKeyDown(event->key(), event->text())) {
        event->accept();
        return;
    }
    GLLevelView::keyPressEvent(event);
}

void GLPanelView::showEvent(QShowEvent* event) {
    GLLevelView::showEvent(event);
    // In its window the view takes the keys first.
    setFocus(Qt::OtherFocusReason);
}

}  // namespace quenbril
