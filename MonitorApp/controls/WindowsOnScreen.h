#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <optional>
#include <vector>

class QWindow;

namespace quenbril {

/// A window the user sees as one (menus, tool tips and the like aside).
bool isPlainWindow(const QWidget& widget);

/// Moves every window of the application, as it opens, so that it lies on the screen with the
/// frame the window manager drew round it, title bar included (WindowFrameAutosave::
/// placeFramedOnScreen). A window is placed before it is mapped, when the frame is not known yet;
/// the manager then adds its title bar and borders (its _NET_FRAME_EXTENTS), which can push them
/// off the screen. So each window is placed again once it is on the screen and its frame is
/// known, until it lies on the screen, once per showing: a window the user moves afterwards
/// stays where it is put.
///
/// Made once by the application, it watches every window of it until it goes. Main thread
/// only.
class WindowsOnScreen : public QObject {
  public:
    WindowsOnScreen();
    ~WindowsOnScreen() override;
    WindowsOnScreen(const WindowsOnScreen&) = delete;
    WindowsOnScreen& operator=(const WindowsOnScreen&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Waiting {
        QPointer<QWidget> widget;
        QPointer<QWindow> window;
        std::optional<QRect> asked;  // the place the application last asked for
        int moves = 0;               // how often it was moved since it was shown
    };
    // The windows shown and not yet seen on the screen with their frames.
    std::vector<Waiting> waiting_;
};

}  // namespace quenbril
