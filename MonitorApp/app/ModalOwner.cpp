#include "MonitorApp/app/ModalOwner.h"

#include <QDialog>

namespace quenbril {

ModalOwner::ModalOwner(QWidget* asking) : window_(asking ? asking->window() : nullptr) {}

void ModalOwner::adopt(QDialog& dialog) const {
    // A child dialog is a transient window of its parent: the window manager keeps it above
    // the parent and centres it there. A window kept on top (the chat window) would still
    // cover a dialog of normal level, so the dialog takes the same level.
    if (window_ && window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    dialog.setWindowModality(Qt::ApplicationModal);
}

void ModalOwner::restoreFocus() const {
    if (!window_ || !window_->isVisible()) return;
    window_->raise();
    window_->activateWindow();
}

}  // namespace quenbril
