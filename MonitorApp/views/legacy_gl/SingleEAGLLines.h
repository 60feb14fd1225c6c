#pragma once

#include "MonitorApp/views/SingleVertexFill.h"

namespace quenbril {

class GLLineBuilder;

/// What one frame of the OpenGL single-channel view is drawn from.
struct SingleEAGLFrame {
    /// Points per band: column k of N lies at x = k / (N / 2) - 1, the newest at the left.
    int points = kSingleSamples;
    int32_t chanIndex = 0;
    /// The replay position, 0 (left) to 1.
    float playbackCursor = 0;
    float lineThickness = 1;
    bool showAudio = true;
    bool showQuality = true;
    bool showRFA = true;
    bool showRFB = true;
    bool showRFC = true;
    bool showRFD = true;
    bool quadversity = false;
    SingleHistories histories;
    SingleColors colors;
};

/// The y of an RF byte; a point below -0.91 is left out of its band.
inline double singleEAGLRFY(int r) { return (2.0 * r / 100.0 - 1.0) * 0.9; }
inline constexpr double kSingleEAGLFloor = -0.91;

/// Builds the frame in clip units: the audio, quality and RF bands of the channel (RF A and B
/// in pieces, each piece closed on the other antenna's line), RF C and D for a quadversity
/// receiver, the active-antenna line at the bottom, the replay cursor (always) and the alert
/// lines, stippled: red where an alert begins, blue for every column of the second kind. A
/// channel outside 0 ... 127 draws only the cursor.
void buildSingleEAGLLines(const SingleEAGLFrame& frame, GLLineBuilder& lines);

}  // namespace quenbril
