#include "MonitorApp/app/ModalOwner.h"

#include <QApplication>
#include <QDialog>

namespace quenbril {

namespace {

/// Whether a shown window of the application is kept above the others (the chat window, a
/// panel kept on top), whichever window that is.
bool aWindowStaysOnTop() {
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ModalOwner::ModalOwner(QWidget* asking) : window_(asking ? asking->window() : nullptr) {}

void ModalOwner::adopt(QDialog& dialog) const {
    // A child dialog is a transient window of its parent: the window manager keeps it above
    // the parent and centres it there. A window kept on top would still cover a dialog of
    // normal level, be it the asking window or another one, and the application is modal
    // meanwhile: the dialog takes the top level whenever any shown window has it.
    if (aWindowStaysOnTop()) dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    dialog.setWindowModality(Qt::ApplicationModal);
}

void ModalOwner::restoreFocus() const {
    if (!window_ || !window_->isVisible()) return;
    window_->raise();
    window_->activateWindow();
}

}  // namespace quenbril
