#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "MonitorApp/channelstrips/StripLayout.h"
#include "MonitorApp/views/LevelVertex.h"

namespace quenbril {

class CharRingBuffer;

/// The panel display draws 128 cells of 128 samples per layer: a layer is 16384 vertices.
inline constexpr int kPanelCells = kMaxStrips;
inline constexpr int kPanelSamples = 128;
inline constexpr int kPanelLayerVertices = kPanelCells * kPanelSamples;

/// What one frame of the panel display is drawn from.
struct PanelFill {
    uint32_t layers = 0;
    /// Strips per row; below 1 counts as 1.
    int columns = 1;
    /// The drawable in pixels and the view's height in points.
    double drawableWidth = 0;
    double drawableHeight = 0;
    double frameHeight = 0;
    const std::array<int32_t, kMaxStrips>* panelMap = nullptr;
    const CharRingBuffer* levels = nullptr;
    const CharRingBuffer* rf = nullptr;
    LevelColor audioColor;
    LevelColor rfColor;
};

/// Whether a panel map entry names a history channel; a cell whose entry does not is skipped.
inline bool isPanelChannel(int32_t channel) { return channel >= 0 && channel < kMaxStrips; }

/// Writes the audio and RF line vertices of every cell (all 128, whatever the level count) and
/// layer: vertex t * 16384 + s * 128 + k is sample k of cell s in layer t. Each cell shows the
/// 128 columns before its history's newest, oldest at the left, one sample per point, one level
/// unit half a point above the cell's baseline 90 points below its top; each layer lies half a
/// point left of and above the one before. Both spans hold layers * 16384 vertices; cells whose
/// map entry names no channel are left as they were.
void fillPanelVertices(const PanelFill& fill, std::span<LevelVertex> audio,
                       std::span<LevelVertex> rf);

/// The line strips to draw for the first `levelCount` cells (at most 128) in every layer,
/// skipping cells whose map entry names no channel.
void panelDrawRanges(int32_t levelCount, uint32_t layers,
                     const std::array<int32_t, kMaxStrips>& panelMap, LevelDrawRanges& ranges);

}  // namespace quenbril
