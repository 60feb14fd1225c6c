#include "MonitorApp/app/ModalStacking.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "MonitorApp/controls/WindowsOnScreen.h"

namespace quenbril {

namespace {

bool isModalWindow(const QWidget& widget) { return isPlainWindow(widget) && widget.isModal(); }

bool staysOnTop(const QWidget& widget) {
    return widget.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

/// Gives a shown window new flags without taking it off the screen: setting them on a shown
/// widget hides it, and a dialog's loop ends with that. The window system gets them for the
/// window the widget has.
void setFlagsInPlace(QWidget& window, Qt::WindowFlags flags) {
    if (window.windowFlags() == flags) return;
    window.overrideWindowFlags(flags);
    if (QWindow* handle = window.windowHandle()) handle->setFlags(flags);
}

/// Whether `modal` keeps the user from `window`.
bool blocks(const QWidget& modal, const QWidget& window) {
    if (&modal == &window || isModalWindow(window)) return false;
    if (modal.windowModality() == Qt::ApplicationModal) return true;
    for (const QWidget* parent = modal.parentWidget(); parent;
         parent = parent->window()->parentWidget()) {
        if (parent->window() == &window) return true;
    }
    return false;
}

}  // namespace

ModalStacking::ModalStacking() { qApp->installEventFilter(this); }

ModalStacking::~ModalStacking() {
    if (qApp) qApp->removeEventFilter(this);
}

bool ModalStacking::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Show:
            if (watched->isWidgetType()) {
                auto* widget = static_cast<QWidget*>(watched);
                if (isPlainWindow(*widget)) windowShown(*widget);
            }
            break;
        case QEvent::Expose:
            if (watched->isWindowType()) {
                auto* window = static_cast<QWindow*>(watched);
                auto waiting = std::find(forwardWhenExposed_.begin(), forwardWhenExposed_.end(),
                                         QPointer<QWindow>(window));
                if (waiting != forwardWhenExposed_.end() && window->isExposed()) {
                    forwardWhenExposed_.erase(waiting);
                    bringModalForward();
                }
            }
            break;
        case QEvent::WindowActivate:
            // The user brought forward a window that a modal window keeps the user from.
            if (watched->isWidgetType()) {
                auto* widget = static_cast<QWidget*>(watched);
                if (!isPlainWindow(*widget)) break;
                const std::vector<QWidget*> modals = shownModals();
                if (!modals.empty() && blocks(*modals.back(), *widget)) bringModalForward();
            }
            break;
        default:
            break;
    }
    return false;
}

void ModalStacking::windowShown(QWidget& window) {
    if (isModalWindow(window)) {
        // Readied to show above the others where it was made (ModalOwner::keepAbove).
        std::erase_if(modals_, [&](const QPointer<QWidget>& modal) {
            return modal.isNull() || modal == &window;
        });
        modals_.emplace_back(&window);
        return;
    }
    const std::vector<QWidget*> modals = shownModals();
    if (modals.empty()) return;
    if (staysOnTop(window)) {
        for (QWidget* modal : modals) {
            if (!staysOnTop(*modal))
                setFlagsInPlace(*modal, modal->windowFlags() | Qt::WindowStaysOnTopHint);
        }
    }
    std::erase_if(forwardWhenExposed_, [](const QPointer<QWindow>& w) { return w.isNull(); });
    if (QWindow* handle = window.windowHandle()) forwardWhenExposed_.emplace_back(handle);
}

std::vector<QWidget*> ModalStacking::shownModals() {
    std::erase_if(modals_, [](const QPointer<QWidget>& modal) { return modal.isNull(); });
    std::vector<QWidget*> shown;
    for (const QPointer<QWidget>& modal : modals_) {
        if (modal->isVisible() && isModalWindow(*modal)) shown.push_back(modal);
    }
    return shown;
}

void ModalStacking::bringModalForward() {
    const std::vector<QWidget*> modals = shownModals();
    if (modals.empty()) return;
    QWidget* modal = modals.back();
    modal->raise();
    modal->activateWindow();
}

}  // namespace quenbril
