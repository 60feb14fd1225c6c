#include "MonitorApp/views/BlankLevelDisplay.h"

#include <QKeyEvent>

namespace quenbril {

BlankLevelDisplay::BlankLevelDisplay(const LevelDisplayServices& services) : input_(services) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
}

void BlankLevelDisplay::keyPressEvent(QKeyEvent* event) {
    if (input_.keyDown(event->key(), event->text())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace quenbril
