#pragma once

#include <array>
#include <cstdint>

#include "MonitorApp/channelstrips/PanelRenderer.h"

namespace quenbril {

/// What the strip manager tells the panel display: which history channel each cell shows,
/// how many cells are drawn, the shown panel and the drawable's size. It serves the manager
/// also where nothing can be drawn.
class PanelLevelMap : public PanelRenderer {
  public:
    /// Cell k shows channel k until told otherwise.
    PanelLevelMap();

    void setPanelIndex(int32_t panelIndex) override { panelIndex_ = panelIndex; }
    std::array<int32_t, kMaxStrips>& panelMap() override { return panelMap_; }
    void setLevelCount(int32_t count) override { levelCount_ = count; }
    /// Keeps the size truncated toward zero (a negative or NaN one as 0).
    void drawableSizeWillChange(const Size& size) override;

    int32_t panelIndex() const { return panelIndex_; }
    const std::array<int32_t, kMaxStrips>& panelMap() const { return panelMap_; }
    int32_t levelCount() const { return levelCount_; }
    /// The last drawable size in whole pixels, width and height.
    const std::array<uint32_t, 2>& viewportSize() const { return viewportSize_; }

  private:
    std::array<int32_t, kMaxStrips> panelMap_{};
    int32_t levelCount_ = 0;
    int32_t panelIndex_ = 0;
    std::array<uint32_t, 2> viewportSize_{};
};

/// A drawable dimension in whole pixels: truncated, 0 for a negative or NaN one.
uint32_t viewportDimension(double pixels);

}  // namespace quenbril
