#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

/// A colour as the level shaders take it: red, green, blue and alpha, each 0 to 1.
struct LevelColor {
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 0;
    bool operator==(const LevelColor&) const = default;
};

inline constexpr LevelColor kClearLevelColor{0, 0, 0, 0};
inline constexpr LevelColor kWhiteLevelColor{1, 1, 1, 1};

/// One vertex of the level displays, 32 bytes as the shaders read them: the position in drawable
/// pixels with the origin at the centre (x to the right, y up), two unused floats, the colour.
struct LevelVertex {
    float x = 0;
    float y = 0;
    float unused[2] = {0, 0};
    LevelColor color;
};

static_assert(sizeof(LevelVertex) == 32);
static_assert(offsetof(LevelVertex, x) == 0);
static_assert(offsetof(LevelVertex, y) == 4);
static_assert(offsetof(LevelVertex, color) == 16);

/// The line strips of one draw call: strip i starts at vertex firsts[i] and has counts[i]
/// vertices (the arrays glMultiDrawArrays takes).
struct LevelDrawRanges {
    std::vector<int32_t> firsts;
    std::vector<int32_t> counts;

    void clear() {
        firsts.clear();
        counts.clear();
    }
    void add(int32_t first, int32_t count) {
        firsts.push_back(first);
        counts.push_back(count);
    }
    bool empty() const { return firsts.empty(); }
};

/// The colour of a theme array: its first three numbers and alpha 1 when it has at least three
/// elements, else opaque white. A fourth element is never used.
LevelColor vectorColor(const Array& array);

/// The number of line layers a stored line thickness gives: the thickness truncated toward zero,
/// 0 for a thickness below 1, a negative one or NaN, and at most 16 (the buffers are sized by
/// it).
uint32_t lineLayers(float thickness);

/// `value` modulo `length`, always in 0 ... length - 1 (length at least 1).
inline int wrapIndex(int64_t value, int length) {
    const int64_t r = value % length;
    return static_cast<int>(r < 0 ? r + length : r);
}

}  // namespace quenbril
