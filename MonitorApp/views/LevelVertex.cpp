#include "MonitorApp/views/LevelVertex.h"

#include <cmath>

namespace quenbril {

namespace {

constexpr float kMaxLayers = 16.0f;

float component(const Value& value) { return value.floatValue().value_or(0.0f); }

}  // namespace

LevelColor vectorColor(const Array& array) {
    if (array.size() < 3) return kWhiteLevelColor;
    return LevelColor{component(array[0]), component(array[1]), component(array[2]), 1.0f};
}

uint32_t lineLayers(float thickness) {
    // A thickness read from an imported file may be anything; the comparison is false for NaN.
    if (!(thickness >= 1.0f)) return 0;
    return static_cast<uint32_t>(std::trunc(std::fmin(thickness, kMaxLayers)));
}

}  // namespace quenbril
