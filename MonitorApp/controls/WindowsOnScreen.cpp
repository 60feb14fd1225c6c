#include "MonitorApp/controls/WindowsOnScreen.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "MonitorApp/controls/WindowFrameAutosave.h"

namespace quenbril {

bool isPlainWindow(const QWidget& widget) {
    if (!widget.isWindow()) return false;
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

namespace {

/// A manager that will not have the window where it is asked to be is not asked forever.
constexpr int kMostMoves = 4;

/// A window the window manager frames and the user moves.
bool isFramedWindow(const QWidget& widget) {
    return isPlainWindow(widget) && !widget.windowFlags().testFlag(Qt::FramelessWindowHint);
}

}  // namespace

WindowsOnScreen::WindowsOnScreen() { qApp->installEventFilter(this); }

WindowsOnScreen::~WindowsOnScreen() {
    if (qApp) qApp->removeEventFilter(this);
}

bool WindowsOnScreen::eventFilter(QObject* watched, QEvent* event) {
    // Every event of the application passes here: only those that place a window go on.
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
            break;
        default:
            return false;
    }
    std::erase_if(waiting_,
                  [](const Waiting& w) { return w.widget.isNull() || w.window.isNull(); });
    if (watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow()) return false;
        auto waiting = std::find_if(waiting_.begin(), waiting_.end(),
                                    [&](const Waiting& w) { return w.widget == widget; });
        switch (event->type()) {
            case QEvent::Show:
                if (waiting == waiting_.end() && widget->windowHandle() && isFramedWindow(*widget))
                    waiting_.push_back({widget, widget->windowHandle(), std::nullopt, 0});
                break;
            case QEvent::Move:
            case QEvent::Resize:
                // The application asked for a place (one restored as the window showed, say):
                // the manager may apply it only after the window is framed, and what it says
                // of the window meanwhile is the place before.
                if (waiting != waiting_.end() && !event->spontaneous())
                    waiting->asked = widget->geometry();
                break;
            case QEvent::Hide:
                if (waiting != waiting_.end()) waiting_.erase(waiting);
                break;
            default:
                break;
        }
        return false;
    }
    if (!watched->isWindowType()) return false;
    if (event->type() != QEvent::Expose && event->type() != QEvent::Move &&
        event->type() != QEvent::Resize) {
        return false;
    }
    auto* window = static_cast<QWindow*>(watched);
    auto waiting = std::find_if(waiting_.begin(), waiting_.end(),
                                [&](const Waiting& w) { return w.window == window; });
    // Once the window is on the screen and the manager has told its frame extents (it does as
    // it frames the window), the window is placed where it was last asked to be, with its
    // frame on the screen; again as the manager answers, until it lies there. Without a
    // manager there is no frame: the window was placed as it showed.
    if (waiting == waiting_.end() || !window->isExposed() || window->frameMargins().isNull())
        return false;
    QWidget* widget = waiting->widget;
    if (!widget->isVisible()) return false;
    if (waiting->asked && *waiting->asked != widget->geometry())
        widget->setGeometry(*waiting->asked);
    const bool moved = WindowFrameAutosave::placeFramedOnScreen(*widget);
    // The widget may have gone while it was moved.
    waiting = std::find_if(waiting_.begin(), waiting_.end(),
                           [&](const Waiting& w) { return w.window == window; });
    if (waiting == waiting_.end()) return false;
    if (!moved || ++waiting->moves >= kMostMoves) waiting_.erase(waiting);
    return false;
}

}  // namespace quenbril
