#include "MonitorApp/channelstrips/StripLayout.h"

namespace quenbril {

int clampedColumns(int columns) { return columns < 1 ? 1 : columns; }

StripCell stripCell(int n, int columns) {
    const int c = clampedColumns(columns);
    return StripCell{n / c, n % c};
}

Rect stripFrame(int n, int columns) {
    const StripCell cell = stripCell(n, columns);
    return Rect{cell.column * kStripCellSize, cell.row * kStripCellSize, kStripCellSize,
                kStripCellSize};
}

double panelHeight(int stripCount, int columns, double scrollViewHeight) {
    const double h = (stripCount / clampedColumns(columns)) * kStripCellSize + kStripCellSize;
    return h > scrollViewHeight ? h : scrollViewHeight;
}

Rect groupButtonFrame(int index, Size container) {
    const double w = container.width / kGroupCount;
    return Rect{index * w, 0, w, container.height};
}

bool isPanelB(const std::optional<std::string>& panel) { return panel && *panel == "B"; }

std::string_view panelName(int panelIndex) { return panelIndex != 0 ? "B" : "A"; }

bool panelEquals(const std::optional<std::string>& stripPanel, std::string_view panel) {
    return stripPanel && *stripPanel == panel;
}

}  // namespace quenbril
