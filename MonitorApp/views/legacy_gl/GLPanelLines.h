#pragma once

#include <array>
#include <bitset>

#include "MonitorApp/views/LevelVertex.h"
#include "MonitorApp/views/legacy_gl/GLPanelCurves.h"

namespace quenbril {

class GLLineBuilder;

/// What one frame of the OpenGL panel view is drawn from.
struct GLPanelFrame {
    /// The view in points.
    double width = 0;
    double height = 0;
    /// Strips a row (taken as at least 1).
    int columns = 1;
    /// Strips drawn; those from 128 on draw nothing.
    int levelCount = 0;
    /// Strips whose lines are squeezed to make room for their timecode signal.
    std::bitset<kGLPanelStrips> ltc;
    /// The timecode signal of each strip that has one (180 samples), else null.
    std::array<const float*, kGLPanelStrips> timecode{};
    float lineThickness = 1;
    LevelColor audio;
    LevelColor rf;
};

/// The y of timecode sample `v` in points above its baseline: its level in dB from -48 to 0
/// mapped onto 0 ... 0.48, negative for a negative sample, less 0.52, at 0.75 x 64 points. A
/// sample that is not a number counts as 0.
double timecodeOffset(float v);

/// Builds the lines of every strip: in its 128-point cell (`columns` a row), the RF line (or
/// the timecode signal) and then the audio line, 180 points across the cell, oldest first, each
/// value v at v x 64 points above a baseline 32 points below the cell's top (for a timecode
/// strip the audio at three quarters of that height on a baseline 48 points down); then a red
/// border one point wide along the view's edges.
void buildGLPanelLines(const GLPanelFrame& frame, const GLPanelCurves& curves,
                       GLLineBuilder& lines);

}  // namespace quenbril
