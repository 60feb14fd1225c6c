#pragma once

// Pictures of the X display taken from outside the application (quenbril-screengrab), and what
// the window checks and the start-up benchmark look for in them: the window, the strip cells and
// colours in a region.

#include <QColor>
#include <QImage>
#include <QRect>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Eventually.h"

namespace quenbril::test {

/// The whole screen of $DISPLAY, grabbed by the program at `screengrabPath`; null on failure.
QImage grabScreen(const std::string& screengrabPath);

/// Grabs the screen until `wanted` holds for the picture or `seconds` (as given) have passed;
/// the last picture is returned either way.
template <typename Wanted>
QImage grabScreenWhen(const std::string& screengrabPath, Wanted wanted, double seconds) {
    QImage screen;
    eventually(
        [&] {
            screen = grabScreen(screengrabPath);
            return !screen.isNull() && wanted(screen);
        },
        seconds, [] { std::this_thread::sleep_for(std::chrono::milliseconds(250)); });
    return screen;
}

/// The bounding box of everything that is not the black of an empty X screen.
QRect windowFrame(const QImage& screen);

/// The strip cells (128 x 128, standard layout) found by their title bars: flat areas of one of
/// the `colours` the size of a title bar (the title's letters may cut into them), sorted by row,
/// then column.
std::vector<QRect> cellsByTitleBars(const QImage& screen, const std::vector<QColor>& colours);

/// How many pixels inside `region` have exactly `colour`.
int countColour(const QImage& screen, QColor colour, const QRect& region);

/// How many pixels inside `region` are clearly red.
int countRed(const QImage& screen, const QRect& region);

}  // namespace quenbril::test
