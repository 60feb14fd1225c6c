#include "MonitorApp/views/PanelVertexFill.h"

#include <algorithm>
#include <cmath>

#include "MonitorApp/audio/CharRingBuffer.h"

namespace quenbril {

namespace {

constexpr double kCellPoints = 128;
constexpr double kBaselinePoints = 90;
constexpr double kRFGain = 1.15;

/// The signed byte of a channel's history at a column; a channel the history lacks reads 0.
int8_t historyByte(const CharRingBuffer& history, int channel, int column) {
    const int8_t* row = history.data()[channel];
    return row ? row[column] : 0;
}

}  // namespace

void fillPanelVertices(const PanelFill& fill, std::span<LevelVertex> audio,
                       std::span<LevelVertex> rf) {
    const size_t needed = static_cast<size_t>(fill.layers) * kPanelLayerVertices;
    if (fill.layers == 0 || !fill.panelMap || !fill.levels || !fill.rf) return;
    if (audio.size() < needed || rf.size() < needed) return;

    const double width = fill.drawableWidth;
    const double height = fill.drawableHeight;
    const double scale = fill.frameHeight > 0 ? height / fill.frameHeight : 1.0;
    const double cell = kCellPoints * scale;
    const double top = kBaselinePoints * scale;
    const double step = 0.5 * scale;
    const int columns = std::max(1, fill.columns);
    const CharRingBuffer& levels = *fill.levels;
    const CharRingBuffer& rfHistory = *fill.rf;

    for (uint32_t t = 0; t < fill.layers; ++t) {
        for (int s = 0; s < kPanelCells; ++s) {
            const int32_t channel = (*fill.panelMap)[s];
            if (!isPanelChannel(channel)) continue;
            const double x0 = (s % columns) * cell - width / 2;
            const double y0 = height / 2 - (s / columns) * cell - top;
            const size_t base = static_cast<size_t>(t) * kPanelLayerVertices + s * kPanelSamples;
            for (int k = 0; k < kPanelSamples; ++k) {
                // The 128 columns before the newest; a short history wraps more than once.
                const int levelColumn = wrapIndex(int64_t{levels.bufferStart()} - kPanelSamples + k,
                                                  levels.bufferLen());
                const int rfColumn = wrapIndex(int64_t{rfHistory.bufferStart()} - kPanelSamples + k,
                                               rfHistory.bufferLen());
                const int a = historyByte(levels, channel, levelColumn);
                const int r = historyByte(rfHistory, channel, rfColumn);
                const double x = x0 + k * scale - t * step;
                const double rfUnits = std::trunc(r * kRFGain);
                LevelVertex& av = audio[base + k];
                av.x = static_cast<float>(x);
                av.y = static_cast<float>(y0 + a * scale * 0.5 + t * step);
                av.color = fill.audioColor;
                LevelVertex& rv = rf[base + k];
                rv.x = static_cast<float>(x);
                rv.y = static_cast<float>(y0 + rfUnits * scale * 0.5 + t * step);
                rv.color = fill.rfColor;
            }
        }
    }
}

void panelDrawRanges(int32_t levelCount, uint32_t layers,
                     const std::array<int32_t, kMaxStrips>& panelMap, LevelDrawRanges& ranges) {
    ranges.clear();
    const int cells = std::clamp(levelCount, 0, kPanelCells);
    for (uint32_t t = 0; t < layers; ++t) {
        for (int s = 0; s < cells; ++s) {
            if (!isPanelChannel(panelMap[s])) continue;
            ranges.add(static_cast<int32_t>(t * kPanelLayerVertices + s * kPanelSamples),
                       kPanelSamples);
        }
    }
}

}  // namespace quenbril
