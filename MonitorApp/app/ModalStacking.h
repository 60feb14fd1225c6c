#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QWidget;
class QWindow;

namespace quenbril {

/// Keeps every modal window of the application (alerts, file and colour panels, the note sheet,
/// the connection dialog) above every other window of the application while it is shown. A
/// modal window is readied for that as it is made (ModalOwner::keepAbove: a window of its own
/// for the window manager, on top while another window is); this watch keeps it so afterwards.
/// A window that appears while a modal window is shown (a performer window reopened at start, a
/// page) would cover it: once that window is on the screen, the modal window takes the top
/// level too where that window has it, and comes forward again. So does it when the user
/// brings forward a window it blocks. Otherwise a modal window can end up under a window it
/// blocks, and the application looks frozen.
///
/// Made once by the application, it watches every window of it until it goes. Main thread
/// only.
class ModalStacking : public QObject {
  public:
    ModalStacking();
    ~ModalStacking() override;
    ModalStacking(const ModalStacking&) = delete;
    ModalStacking& operator=(const ModalStacking&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void windowShown(QWidget& window);
    /// The shown modal windows, in the order they were shown.
    std::vector<QWidget*> shownModals();
    /// Brings the modal window shown last forward (the manager raises a window it activates).
    void bringModalForward();

    // The modal windows seen shown, oldest first.
    std::vector<QPointer<QWidget>> modals_;
    // Windows shown while a modal window was: once each is on the screen (the window manager
    // stacks a new window on top), the modal window comes forward again.
    std::vector<QPointer<QWindow>> forwardWhenExposed_;
};

}  // namespace quenbril
