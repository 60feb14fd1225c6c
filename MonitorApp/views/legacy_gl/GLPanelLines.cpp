#include "MonitorApp/views/legacy_gl/GLPanelLines.h"

#include <algorithm>
#include <cmath>

#include "MonitorApp/views/legacy_gl/GLLineBuilder.h"

namespace quenbril {

namespace {

constexpr double kCell = 128.0;
constexpr double kBaseline = 32.0;
constexpr double kTimecodeBaseline = 48.0;
constexpr double kValueScale = 64.0;
constexpr double kTimecodeScale = 0.75;
constexpr LevelColor kBorder{1, 0, 0, 1};

/// A line one point wide along the view's edges.
void border(const GLPanelFrame& frame, GLLineBuilder& lines) {
    lines.setLineWidth(static_cast<float>(lines.pixelWidth() / frame.width));
    lines.setColor(kBorder);
    lines.outline();
}

}  // namespace

double timecodeOffset(float v) {
    if (std::isnan(v)) v = 0;
    // log10(0) is minus infinity, which the clamp turns into the floor.
    const double db = std::min(0.0, std::max(-48.0, 20.0 * std::log10(std::fabs(v))));
    double s = (db + 48.0) / 100.0;
    if (v < 0) s = -s;
    return (s - 0.52) * kTimecodeScale * kValueScale;
}

void buildGLPanelLines(const GLPanelFrame& frame, const GLPanelCurves& curves,
                       GLLineBuilder& lines) {
    if (!(frame.width > 0) || !(frame.height > 0)) return;
    const int columns = std::max(1, frame.columns);
    const int strips = std::clamp(frame.levelCount, 0, kGLPanelStrips);
    const double toClipX = 2.0 / frame.width;
    const double toClipY = 2.0 / frame.height;
    // A point `down` points below the view's top.
    auto clipY = [&](double down) { return 1.0 - down * toClipY; };

    lines.setLineWidth(frame.lineThickness);
    for (int i = 0; i < strips; ++i) {
        const double left = (i % columns) * kCell;
        const double top = (i / columns) * kCell;
        const bool ltc = frame.ltc[i];
        const double scale = ltc ? kTimecodeScale : 1.0;
        const double audioBase = top + (ltc ? kTimecodeBaseline : kBaseline);
        const float* timecode = ltc ? frame.timecode[i] : nullptr;
        auto clipX = [&](int k) { return (left + k * 32.0 / 45.0) * toClipX - 1.0; };

        lines.setColor(frame.rf);
        lines.beginStrip();
        for (int k = 0; k < kGLPanelPoints; ++k) {
            const double up =
                timecode ? timecodeOffset(timecode[k]) : curves.rfCurve(i, k) * kValueScale;
            lines.vertex(clipX(k),
                         clipY((timecode ? top + kTimecodeBaseline : top + kBaseline) - up));
        }
        lines.endStrip();

        lines.setColor(frame.audio);
        lines.beginStrip();
        for (int k = 0; k < kGLPanelPoints; ++k) {
            lines.vertex(clipX(k), clipY(audioBase - curves.curve(i, k) * kValueScale * scale));
        }
        lines.endStrip();
    }
    border(frame, lines);
}

}  // namespace quenbril
