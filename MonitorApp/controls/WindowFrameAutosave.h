#pragma once

#include <QRect>
#include <QSize>
#include <optional>
#include <string>

class QWidget;

namespace quenbril {

/// A window's frame kept in the user defaults under a frame name ("x y width height"), as every
/// window of the application keeps its own. Main thread only.
class WindowFrameAutosave {
  public:
    /// Stores the window's current frame under `name`.
    static void save(const QWidget& window, const std::string& name);
    /// Gives the window the frame stored under `name` when one is stored, fits the window's
    /// size limits and shows its top on a screen; answers whether it did. The window is then
    /// moved fully onto that screen (placeOnScreen).
    static bool restore(QWidget& window, const std::string& name);
    /// Moves the window (shrunk to the screen where it is larger, within its limits) so that
    /// it lies fully, with the frame the window manager gave it, on the screen it shows most
    /// on, or on the primary screen when it shows on none: a panel half off the screen cannot
    /// be used during a show. Along a side where even its least size is larger than the screen,
    /// it keeps its size with its top or left edge on the screen.
    static void placeOnScreen(QWidget& window);
    /// As placeOnScreen, once the window manager has framed the shown window: a least size
    /// that, with the frame, is larger than the screen is first lowered to make room for the
    /// frame, as far as the window's contents allow. Answers whether the window was moved.
    static bool placeFramedOnScreen(QWidget& window);
    /// `size` no larger than the free area of the window's screen (the primary screen before
    /// the window shows): a least size larger than that would push the window off the screen.
    static QSize withinScreen(QSize size, const QWidget& window);
    /// The frame placeOnScreen gives `frame` on a screen whose free area is `area`.
    static QRect frameOnScreen(const QRect& frame, const QRect& area, QSize minimum);
    /// Restores the stored frame, or else gives the window `size` (within its limits and the
    /// primary screen) centred on the primary screen.
    static void restoreOrCentre(QWidget& window, const std::string& name, QSize size);

    static std::string frameText(const QRect& frame);
    /// None for a text that is not four whole numbers with a positive size.
    static std::optional<QRect> frameFromText(const std::string& text);
    /// Within the window's size limits, with a strip along its top (where the title bar is
    /// grabbed) on one of the screens.
    static bool frameFits(const QRect& frame, const QWidget& window);

  private:
    static bool place(QWidget& window, bool framed);
};

}  // namespace quenbril
