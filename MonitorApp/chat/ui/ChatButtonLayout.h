#pragma once

#include <QRect>
#include <QSize>
#include <vector>

namespace quenbril {

/// Where the quick-message buttons go in their area. Frames are in the area's own coordinates
/// (y downwards); the rows fill the area upwards from its bottom edge.
class ChatButtonLayout {
  public:
    /// The quick-message pane: `count` buttons two a row, the even slot on the right. Rows
    /// are a quarter of the area high while that beats the preferred height of
    /// `chatButtonSize` ((3 - size) x 20: 60, 40, 20 points), else as many rows of the
    /// preferred height as fit, stretched to fill the area. Slots that find no row get an
    /// empty frame; so does every slot when not even one row fits.
    static std::vector<QRect> paneFrames(QSize area, int chatButtonSize, int count);

    /// The single chat window: `count` buttons in one column, the first at the bottom, each
    /// an equal share of the height less a 5-point gap.
    static std::vector<QRect> columnFrames(QSize area, int count);
};

}  // namespace quenbril
