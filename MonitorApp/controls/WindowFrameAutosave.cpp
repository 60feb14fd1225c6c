#include "MonitorApp/controls/WindowFrameAutosave.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <sstream>

#include "foundation/UserDefaults.h"

namespace quenbril {

void WindowFrameAutosave::save(const QWidget& window, const std::string& name) {
    UserDefaults::standardUserDefaults().setObject(Value(frameText(window.geometry())), name);
}

bool WindowFrameAutosave::restore(QWidget& window, const std::string& name) {
    auto saved = UserDefaults::standardUserDefaults().stringForKey(name);
    if (!saved) return false;
    const std::optional<QRect> frame = frameFromText(*saved);
    if (!frame || !frameFits(*frame, window)) return false;
    window.setGeometry(*frame);
    placeOnScreen(window);
    return true;
}

QSize WindowFrameAutosave::withinScreen(QSize size, const QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? size.boundedTo(screen->availableGeometry().size()) : size;
}

QRect WindowFrameAutosave::frameOnScreen(const QRect& frame, const QRect& area, QSize minimum) {
    // Along one side: shrunk to the screen and within it; or, for a window larger than the
    // screen even at its least, as large as it is with its leading edge on the screen.
    struct Span {
        int position;
        int length;
    };
    auto place = [](int position, int length, int least, int start, int end) {
        if (least > end - start) return Span{std::clamp(position, start, end - 1), length};
        length = std::clamp(length, least, end - start);
        return Span{std::clamp(position, start, end - length), length};
    };
    const Span x = place(frame.x(), frame.width(), minimum.width(), area.left(), area.right() + 1);
    const Span y =
        place(frame.y(), frame.height(), minimum.height(), area.top(), area.bottom() + 1);
    return QRect(x.position, y.position, x.length, y.length);
}

void WindowFrameAutosave::placeOnScreen(QWidget& window) { place(window, false); }

bool WindowFrameAutosave::placeFramedOnScreen(QWidget& window) { return place(window, true); }

bool WindowFrameAutosave::place(QWidget& window, bool framed) {
    // The window manager's frame (title bar and borders) must lie on the screen too, once the
    // window has one: the frame extents the manager set, as the native window reads them now
    // (the widget's own idea of its frame follows only with its next move). Before the window
    // was ever framed, its inside stands for the frame.
    const QRect inside = window.geometry();
    QMargins margins;
    if (const QWindow* handle = window.windowHandle()) margins = handle->frameMargins();
    const QRect frame = inside.marginsAdded(margins);
    const QScreen* best = nullptr;
    long long bestArea = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(frame);
        const long long area = static_cast<long long>(shown.width()) * shown.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (!best) best = QGuiApplication::primaryScreen();
    if (!best) return false;
    const QRect area = best->availableGeometry();
    // Once the manager has framed the window, a least size that leaves the frame no room on
    // the screen (one made to fit a small screen before the frame was known) is lowered to
    // make room, as far as the contents allow.
    const QSize room = area.size().shrunkBy(margins);
    const QSize least = window.minimumSize();
    if (framed && (least.width() > room.width() || least.height() > room.height())) {
        const QSize lowered = least.boundedTo(room).expandedTo(window.minimumSizeHint());
        if (lowered != least) window.setMinimumSize(lowered);
    }
    const QRect placed = frameOnScreen(frame, area, window.minimumSize().grownBy(margins));
    if (placed == frame) return false;
    window.setGeometry(placed.marginsRemoved(margins));
    return true;
}

void WindowFrameAutosave::restoreOrCentre(QWidget& window, const std::string& name, QSize size) {
    if (restore(window, name)) return;
    // No sound frame was saved (or its screen is gone): the size, within the primary screen
    // where it can be, centred on it.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) size = size.boundedTo(screen->availableGeometry().size());
    QRect area(QPoint(0, 0), size.boundedTo(window.maximumSize()).expandedTo(window.minimumSize()));
    if (screen) area.moveCenter(screen->availableGeometry().center());
    window.setGeometry(area);
}

std::string WindowFrameAutosave::frameText(const QRect& frame) {
    std::ostringstream out;
    out << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' ' << frame.height();
    return out.str();
}

std::optional<QRect> WindowFrameAutosave::frameFromText(const std::string& text) {
    std::istringstream in(text);
    int x = 0, y = 0, w = 0, h = 0;
    if (!(in >> x >> y >> w >> h) || w <= 0 || h <= 0) return std::nullopt;
    std::string rest;
    if (in >> rest) return std::nullopt;
    return QRect(x, y, w, h);
}

bool WindowFrameAutosave::frameFits(const QRect& frame, const QWidget& window) {
    if (frame.width() < window.minimumWidth() || frame.height() < window.minimumHeight() ||
        frame.width() > window.maximumWidth() || frame.height() > window.maximumHeight()) {
        return false;
    }
    const QRect top(frame.x(), frame.y(), frame.width(), 32);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(top);
        if (shown.width() >= 64 && shown.height() >= 16) return true;
    }
    return false;
}

}  // namespace quenbril
