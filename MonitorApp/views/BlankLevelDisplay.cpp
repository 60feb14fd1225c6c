#include "MonitorApp/views/BlankLevelDisplay.h"

#include <QKeyEvent>

#include "MonitorApp/views/LevelDisplayInput.h"

namespace quenbril {

BlankLevelDisplay::BlankLevelDisplay() {
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
}

void BlankLevelDisplay::keyPressEvent(QKeyEvent* event) {
    if (LevelDisplayInput::keyDown(event->key(), event->text())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace quenbril
