#pragma once

#include <array>
#include <cstdint>

#include "MonitorApp/channelstrips/StripLayout.h"

namespace quenbril {

/// The renderer of the main window's level display: cell k draws history channel
/// `panelMap()[k]`, for `setLevelCount` cells.
class PanelRenderer {
  public:
    virtual ~PanelRenderer() = default;
    virtual void setPanelIndex(int32_t panelIndex) = 0;
    virtual std::array<int32_t, kMaxStrips>& panelMap() = 0;
    virtual void setLevelCount(int32_t count) = 0;
    virtual void drawableSizeWillChange(const Size& size) = 0;
};

}  // namespace quenbril
