#include "MonitorApp/controls/FieldLineBreaks.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace quenbril {

void FieldLineBreaks::install(QLineEdit* field) {
    field->installEventFilter(new FieldLineBreaks(field));
}

bool FieldLineBreaks::eventFilter(QObject* watched, QEvent* event) {
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (!field || field->isReadOnly() || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier) return false;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            field->insert(QStringLiteral("\n"));
            return true;
        case Qt::Key_Tab:
            field->insert(QStringLiteral("\t"));
            return true;
        default:
            return false;
    }
}

}  // namespace quenbril
