#include "MonitorApp/controls/ModalOwner.h"

#include <QApplication>
#include <QDialog>

namespace quenbril {

namespace {

/// Whether a shown window of the application is kept above the others (the chat window, a
/// panel kept on top), whichever window that is.
bool aWindowStaysOnTop(const QWidget& except) {
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window != &except && window->isVisible() &&
            window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ModalOwner::ModalOwner(QWidget* asking) : window_(asking ? asking->window() : nullptr) {}

void ModalOwner::adopt(QDialog& dialog) const {
    keepAbove(dialog);
    dialog.setWindowModality(Qt::ApplicationModal);
}

void ModalOwner::keepAbove(QWidget& modal) {
    // A window manager keeps a transient window (a dialog of its parent) at its parent's level
    // and brings the parent forward in its place: a dialog of a window below one kept on top
    // would stay under that one, and could not be brought forward over a window that appears
    // later. A window of its own can: it keeps its parent, its modality and its looks.
    Qt::WindowFlags flags = modal.windowFlags();
    const Qt::WindowType type = modal.windowType();
    if (type == Qt::Dialog || type == Qt::Sheet) {
        flags = (flags & ~Qt::WindowType_Mask) | Qt::Window | Qt::CustomizeWindowHint |
                Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
        // Without the manager's centring, it opens centred on its parent; a dialog centres
        // itself as it shows.
        QWidget* parent = modal.parentWidget() ? modal.parentWidget()->window() : nullptr;
        if (parent && !qobject_cast<QDialog*>(&modal) && !modal.testAttribute(Qt::WA_Moved)) {
            QRect centred(QPoint(0, 0), modal.size());
            centred.moveCenter(parent->geometry().center());
            modal.move(centred.topLeft());
        }
    }
    // The application is modal meanwhile: the dialog takes the top level whenever any shown
    // window has it, be it the asking window or another one.
    if (aWindowStaysOnTop(modal)) flags |= Qt::WindowStaysOnTopHint;
    if (flags != modal.windowFlags()) modal.setWindowFlags(flags);
}

void ModalOwner::restoreFocus() const {
    if (!window_ || !window_->isVisible()) return;
    window_->raise();
    window_->activateWindow();
}

}  // namespace quenbril
