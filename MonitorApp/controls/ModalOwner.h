#pragma once

#include <QPointer>
#include <QWidget>

class QDialog;

namespace quenbril {

/// The window a modal alert, panel or sheet belongs to: the window of the widget that asked.
/// The dialog is made modal to it and kept above it and above every window that stays on top,
/// and the focus goes back to it when the dialog is done. Main thread only.
class ModalOwner {
  public:
    /// `asking` may be any widget of the window, or null (then the dialog belongs to none).
    explicit ModalOwner(QWidget* asking);

    /// The asking window; null when there is none or it has gone.
    QWidget* window() const { return window_.data(); }
    /// Makes `dialog` (a child of `window()`) application-modal, and keeps it above as
    /// keepAbove does.
    void adopt(QDialog& dialog) const;
    /// Gives the focus back to the window, and brings it forward, once the dialog is done.
    void restoreFocus() const;

    /// Readies a modal window that is about to show (a dialog, or a sheet of its parent) to
    /// lie above every window of the application: a window of its own for the window manager
    /// (still modal to its parent, with its title bar and close button), centred on its parent
    /// where it does not place itself, and on top where a shown window is.
    static void keepAbove(QWidget& modal);

  private:
    QPointer<QWidget> window_;
};

}  // namespace quenbril
