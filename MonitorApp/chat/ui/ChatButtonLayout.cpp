#include "MonitorApp/chat/ui/ChatButtonLayout.h"

#include <algorithm>

namespace quenbril {

namespace {

constexpr int kRowsWhenRoomy = 4;
constexpr int kColumnGap = 5;

/// A frame given from the area's bottom edge, in the area's own coordinates.
QRect fromBottom(int areaHeight, int x, int y, int width, int height) {
    return QRect(x, areaHeight - y - height, width, height);
}

}  // namespace

std::vector<QRect> ChatButtonLayout::paneFrames(QSize area, int chatButtonSize, int count) {
    std::vector<QRect> frames(static_cast<size_t>(std::max(count, 0)), QRect(0, 0, 0, 0));
    const int height = area.height();
    const int halfWidth = area.width() / 2;
    const int preferredHeight = (3 - chatButtonSize) * 20;
    int rows = kRowsWhenRoomy;
    if (!(height * 0.25 > preferredHeight)) {
        rows = preferredHeight > 0 ? height / preferredHeight : 0;
    }
    // An area lower than one preferred row (or not laid out yet) places no button.
    if (rows <= 0) return frames;
    const int placed = std::min(2 * rows, count);
    // Whole points: the rows step by the truncated height.
    const int rowHeight = height / rows;
    int y = 0;
    for (int k = 0; k < placed; ++k) {
        const int x = k % 2 == 0 ? halfWidth : 0;
        frames[static_cast<size_t>(k)] = fromBottom(height, x, y, halfWidth, rowHeight);
        if (k % 2 == 1) y += rowHeight;
    }
    return frames;
}

std::vector<QRect> ChatButtonLayout::columnFrames(QSize area, int count) {
    std::vector<QRect> frames;
    if (count <= 0) return frames;
    const int step = area.height() / count;
    const int buttonHeight = std::max(step - kColumnGap, 0);
    for (int i = 0; i < count; ++i) {
        frames.push_back(fromBottom(area.height(), 0, i * step, area.width(), buttonHeight));
    }
    return frames;
}

}  // namespace quenbril
