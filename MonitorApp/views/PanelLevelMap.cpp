#include "MonitorApp/views/PanelLevelMap.h"

#include <cmath>
#include <limits>

namespace quenbril {

PanelLevelMap::PanelLevelMap() {
    for (int32_t k = 0; k < kMaxStrips; ++k) panelMap_[k] = k;
}

void PanelLevelMap::drawableSizeWillChange(const Size& size) {
    viewportSize_ = {viewportDimension(size.width), viewportDimension(size.height)};
}

uint32_t viewportDimension(double pixels) {
    if (!(pixels > 0)) return 0;
    const double most = std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(std::trunc(std::fmin(pixels, most)));
}

}  // namespace quenbril
