#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "MonitorApp/views/LevelDisplayInput.h"
#include "MonitorApp/views/legacy_gl/GLLevelView.h"
#include "MonitorApp/views/legacy_gl/GLPanelCurves.h"
#include "MonitorApp/views/legacy_gl/GLPanelLines.h"

namespace quenbril {

/// The OpenGL panel display: per strip a rolling 180-point audio line and RF line in its
/// 128-point cell, from the view's own rings, which take the newest bytes its owner left in
/// levels() and rfLevels() and move on once per drawn frame. Strips in the timecode list show
/// their timecode signal instead of the RF line. It takes the solo arrow keys.
class GLPanelView : public GLLevelView {
  public:
    /// `services` hold the columns and answer the solo keys; they outlive the view.
    explicit GLPanelView(const LevelDisplayServices& services, QWidget* parent = nullptr);

    /// The newest audio and RF byte of each of 128 strips, written by the owner.
    int8_t* levels() { return levels_.data(); }
    int8_t* rfLevels() { return rfLevels_.data(); }
    int32_t levelCount() const { return levelCount_; }
    void setLevelCount(int32_t count) { levelCount_ = count; }
    /// Strip numbers whose RF line gives way to the timecode signal; numbers outside
    /// 0 ... 127 are ignored.
    const std::vector<int32_t>& ltcArray() const { return ltcArray_; }
    void setLtcArray(std::vector<int32_t> strips) { ltcArray_ = std::move(strips); }

    /// Does nothing: the view draws from its own rings.
    void updateValues() {}

    const GLPanelCurves& curves() const { return curves_; }
    /// The frame drawn next, read from the settings, the colours and the strip list.
    GLPanelFrame frame() const;

  protected:
    void buildFrame(GLLineBuilder& lines) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    LevelDisplayInput input_;
    std::array<int8_t, kGLPanelStrips> levels_{};
    std::array<int8_t, kGLPanelStrips> rfLevels_{};
    int32_t levelCount_ = 0;
    std::vector<int32_t> ltcArray_;
    GLPanelCurves curves_;
};

}  // namespace quenbril
