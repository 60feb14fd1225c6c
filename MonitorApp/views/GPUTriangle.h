#pragma once

#include <cstddef>

#include "MonitorApp/views/LevelVertex.h"

namespace quenbril {

/// The vertex template of the level renderers: one vertex per sample, which sizes their
/// buffers.
class GPUTriangle {
  public:
    /// One record: position (0, 0), the unused floats 1 and 0, colour white.
    static const LevelVertex* vertices();
    static size_t vertexCount() { return 1; }

    const float* position() const { return position_; }
    void setPosition(float x, float y) {
        position_[0] = x;
        position_[1] = y;
    }
    const LevelColor& color() const { return color_; }
    void setColor(const LevelColor& color) { color_ = color; }

  private:
    float position_[2] = {0, 0};
    LevelColor color_;
};

}  // namespace quenbril
