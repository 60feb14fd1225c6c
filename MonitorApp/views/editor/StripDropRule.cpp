#include "MonitorApp/views/editor/StripDropRule.h"

#include <algorithm>

namespace quenbril {

std::optional<int32_t> StripDropRule::target(const std::vector<int32_t>& dragged, int32_t row) {
    if (dragged.empty()) return std::nullopt;
    if (std::find(dragged.begin(), dragged.end(), row) != dragged.end()) return std::nullopt;
    // Only the dragged rows above the drop move it up; those below it leave it where it is.
    const auto above = std::count_if(dragged.begin(), dragged.end(),
                                     [row](int32_t dragged) { return dragged < row; });
    return row - static_cast<int32_t>(above);
}

}  // namespace quenbril
