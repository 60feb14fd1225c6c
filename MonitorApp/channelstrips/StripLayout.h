#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenbril {

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

/// A frame in the coordinates of the view that holds it, origin at the top left, y growing
/// downwards (as the widgets lay out).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

/// The side of a strip cell in points.
inline constexpr double kStripCellSize = 128;
/// The room the vertical scroller takes beside the level display.
inline constexpr double kScrollerWidth = 15;
/// The most strips the level tables, histories and per-strip frames have room for.
inline constexpr int kMaxStrips = 128;
/// The number of group buttons.
inline constexpr int kGroupCount = 8;

/// Strips per row as the layout uses it: the stored count, at least 1 (a window narrower than
/// one cell reports 0).
int clampedColumns(int columns);

struct StripCell {
    int row = 0;
    int column = 0;
    bool operator==(const StripCell&) const = default;
};

/// The cell of the n-th strip (from 0) of a panel laid out `columns` per row.
StripCell stripCell(int n, int columns);

/// The frame of the n-th strip of a panel in its panel view: rows fill from the top.
Rect stripFrame(int n, int columns);

/// The height of a panel view holding `stripCount` strips: one row more than the full rows,
/// and never less than the visible height of the scroll view.
double panelHeight(int stripCount, int columns, double scrollViewHeight);

/// The frame of group button `index` (from 0) in a container of the given size: eight equal
/// slots side by side across its width.
Rect groupButtonFrame(int index, Size container);

/// Strips count as panel "B" when their panel text is exactly "B"; every other text (and none)
/// places them in panel A.
bool isPanelB(const std::optional<std::string>& panel);

/// The panel text of a panel index: "B" for any non-zero index, else "A".
std::string_view panelName(int panelIndex);

/// True when the strip's panel text is exactly `panel` (the per-panel counts and look-ups).
bool panelEquals(const std::optional<std::string>& stripPanel, std::string_view panel);

}  // namespace quenbril
