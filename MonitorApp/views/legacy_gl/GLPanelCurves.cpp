#include "MonitorApp/views/legacy_gl/GLPanelCurves.h"

#include <algorithm>

namespace quenbril {

GLPanelCurves::GLPanelCurves()
    : curve_(static_cast<size_t>(kGLPanelStrips) * kGLPanelPoints, -1.0f),
      rfCurve_(static_cast<size_t>(kGLPanelStrips) * kGLPanelPoints, -1.0f) {}

size_t GLPanelCurves::at(int strip, int k) const {
    return static_cast<size_t>(strip) * kGLPanelPoints + (curveStart_ + k) % kGLPanelPoints;
}

float GLPanelCurves::curve(int strip, int k) const { return curve_[at(strip, k)]; }

float GLPanelCurves::rfCurve(int strip, int k) const { return rfCurve_[at(strip, k)]; }

void GLPanelCurves::advance(const int8_t* levels, const int8_t* rfLevels, int count) {
    const int strips = std::clamp(count, 0, kGLPanelStrips);
    for (int i = 0; i < strips; ++i) {
        const size_t slot = static_cast<size_t>(i) * kGLPanelPoints + curveStart_;
        curve_[slot] = static_cast<float>(levels[i] / 100.0 - 1.0);
        rfCurve_[slot] = static_cast<float>(rfLevels[i] / 100.0 * 0.98 - 1.0);
    }
    curveStart_ = (curveStart_ + 1) % kGLPanelPoints;
}

}  // namespace quenbril
