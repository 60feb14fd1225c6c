#include "MonitorApp/controls/WindowsOnScreen.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "MonitorApp/controls/WindowFrameAutosave.h"

namespace quenbril {

namespace {

/// The window of the application whose native window is `window`; null for none.
QWidget* widgetOf(const QWindow* window) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowHandle() == window) return widget;
    }
    return nullptr;
}

/// A window the window manager frames and the user moves (menus, tool tips and the like aside).
bool isFramedWindow(const QWidget& widget) {
    if (!widget.isWindow() || widget.windowFlags().testFlag(Qt::FramelessWindowHint)) return false;
    switch (widget.windowType()) {
        case Qt::Popup:
        case Qt::ToolTip:
        case Qt::SplashScreen:
        case Qt::Desktop:
            return false;
        default:
            return true;
    }
}

}  // namespace

WindowsOnScreen::WindowsOnScreen() { qApp->installEventFilter(this); }

WindowsOnScreen::~WindowsOnScreen() {
    if (qApp) qApp->removeEventFilter(this);
}

bool WindowsOnScreen::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        QWindow* window = widget->windowHandle();
        if (window && isFramedWindow(*widget) &&
            std::find(waiting_.begin(), waiting_.end(), QPointer<QWindow>(window)) ==
                waiting_.end()) {
            std::erase_if(waiting_, [](const QPointer<QWindow>& w) { return w.isNull(); });
            waiting_.emplace_back(window);
        }
    } else if (event->type() == QEvent::Expose && watched->isWindowType()) {
        auto* window = static_cast<QWindow*>(watched);
        auto waiting = std::find(waiting_.begin(), waiting_.end(), QPointer<QWindow>(window));
        // The manager sets a window's frame extents before it maps the window, so they are
        // known once the window is exposed. Without a manager there is no frame: the window
        // was placed as it showed.
        if (waiting != waiting_.end() && window->isExposed()) {
            waiting_.erase(waiting);
            if (QWidget* widget = widgetOf(window); widget && widget->isVisible())
                WindowFrameAutosave::placeOnScreen(*widget);
        }
    } else if (event->type() == QEvent::Hide && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow()) {
            std::erase(waiting_, QPointer<QWindow>(widget->windowHandle()));
        }
    }
    return false;
}

}  // namespace quenbril
