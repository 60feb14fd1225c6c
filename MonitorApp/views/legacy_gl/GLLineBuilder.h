#pragma once

#include <cstddef>
#include <vector>

#include "MonitorApp/views/LevelVertex.h"

namespace quenbril {

/// The OpenGL views' line drawing in the manner of immediate mode, built into one vertex array
/// of clip units (x and y from -1 to +1, y up) and the line strips to draw from it with one
/// call. A colour applies to the vertices given after it. A line width of n pixels becomes n
/// parallel one-pixel strips, each one pixel further left and up than the one before (the
/// core profile has no dependable wide lines). A stippled line is dashes of 8 pixels drawn and
/// 8 skipped, starting at its lower end.
class GLLineBuilder {
  public:
    /// Starts a new frame for a drawable of `pixelWidth` x `pixelHeight` pixels.
    void reset(double pixelWidth, double pixelHeight);

    /// The width in pixels of the lines that follow: truncated, at least 1 and at most 16.
    void setLineWidth(float width);
    double pixelWidth() const { return pixelWidth_; }
    double pixelHeight() const { return pixelHeight_; }
    uint32_t lineLayers() const { return layers_; }
    void setColor(const LevelColor& color) { color_ = color; }
    const LevelColor& color() const { return color_; }
    void setStipple(bool on) { stipple_ = on; }

    /// A line strip: the vertices given between these two calls, joined in order.
    void beginStrip();
    void vertex(double x, double y);
    void endStrip();
    /// One line from (x0, y0) to (x1, y1).
    void line(double x0, double y0, double x1, double y1);
    /// A closed strip along the drawable's edges, through the centres of the outermost pixels,
    /// in the current colour and width; the layers of a wider line lie inside the drawable.
    void outline();

    const std::vector<LevelVertex>& vertices() const { return vertices_; }
    const LevelDrawRanges& ranges() const { return ranges_; }

  private:
    void emitLayers(size_t first, size_t count);
    void emitDashes(const LevelVertex& from, const LevelVertex& to);

    std::vector<LevelVertex> vertices_;
    LevelDrawRanges ranges_;
    std::vector<LevelVertex> strip_;
    LevelColor color_ = kWhiteLevelColor;
    double pixelWidth_ = 2;
    double pixelHeight_ = 2;
    uint32_t layers_ = 1;
    bool stipple_ = false;
};

}  // namespace quenbril
