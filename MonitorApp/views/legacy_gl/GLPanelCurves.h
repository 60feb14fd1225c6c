#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenbril {

/// Strips the OpenGL panel view can draw, and points per line.
inline constexpr int kGLPanelStrips = 128;
inline constexpr int kGLPanelPoints = 180;

/// The OpenGL panel view's own histories: per strip a ring of the last 180 audio and RF values
/// as clip-scale values (-1.0 until values arrive), with one ring position for all strips that
/// moves on once per drawn frame, whatever the rate at which the owner brings new bytes.
class GLPanelCurves {
  public:
    GLPanelCurves();

    /// Point k (0 the oldest ... 179 the newest) of a strip's audio and RF line.
    float curve(int strip, int k) const;
    float rfCurve(int strip, int k) const;
    int curveStart() const { return curveStart_; }

    /// Stores the newest bytes of the first `count` strips (at most 128) at the ring position
    /// (audio byte / 100 - 1, RF byte / 100 * 0.98 - 1) and moves the position on by one.
    void advance(const int8_t* levels, const int8_t* rfLevels, int count);

  private:
    size_t at(int strip, int k) const;

    std::vector<float> curve_;
    std::vector<float> rfCurve_;
    int curveStart_ = 0;
};

}  // namespace quenbril
