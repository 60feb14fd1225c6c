#pragma once

#include <QRectF>
#include <array>
#include <cstdint>

#include "MonitorApp/views/StripElement.h"

class QPainter;

namespace quenbril {

/// The strip's five-segment signal-quality meter: a thin bar of five equal cells that lights
/// its leftmost cells magenta, one per quality step. The strip that holds it paints it.
class QualityLayer {
  public:
    static constexpr int kSegmentCount = 5;

    /// The five segments, left to right, without a frame yet.
    QualityLayer();

    /// Frames the meter (bottom-left points of the strip) and lays the cells out side by side.
    /// Laying out paints every cell magenta with a black border, whatever the quality was.
    void setFrame(const QRectF& frame);
    const QRectF& frame() const { return frame_; }

    /// Lights `n` cells: magenta from the left, black after; 0 hides the whole meter, 5 or
    /// more lights all, a negative value shows five black cells.
    void setQuality(int32_t n);

    /// The segments, frames relative to the meter's own bottom-left corner.
    const std::array<StripElement, kSegmentCount>& layers() const { return layers_; }

    /// Paints the segments in a view `viewHeight` points high.
    void paint(QPainter& painter, double viewHeight) const;

  private:
    QRectF frame_;
    std::array<StripElement, kSegmentCount> layers_;
};

}  // namespace quenbril
