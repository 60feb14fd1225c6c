#include "MonitorApp/views/legacy_gl/GLLineBuilder.h"

#include <algorithm>
#include <cmath>

namespace quenbril {

namespace {

constexpr double kDashPixels = 8.0;

/// The colour `f` of the way along a line whose ends have colours a and b, as smooth shading
/// gives it.
LevelColor blend(const LevelColor& a, const LevelColor& b, float f) {
    auto mix = [f](float x, float y) { return x + (y - x) * f; };
    return LevelColor{mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue),
                      mix(a.alpha, b.alpha)};
}

}  // namespace

void GLLineBuilder::reset(double pixelWidth, double pixelHeight) {
    vertices_.clear();
    ranges_.clear();
    strip_.clear();
    // A drawable of no size still gets a finite pixel step.
    pixelWidth_ = std::max(1.0, pixelWidth);
    pixelHeight_ = std::max(1.0, pixelHeight);
    color_ = kWhiteLevelColor;
    layers_ = 1;
    stipple_ = false;
}

void GLLineBuilder::setLineWidth(float width) {
    // Below one pixel a line is still drawn one pixel wide, as OpenGL does.
    layers_ = std::max<uint32_t>(1, quenbril::lineLayers(width));
}

void GLLineBuilder::beginStrip() { strip_.clear(); }

void GLLineBuilder::vertex(double x, double y) {
    LevelVertex v;
    v.x = static_cast<float>(x);
    v.y = static_cast<float>(y);
    v.color = color_;
    strip_.push_back(v);
}

void GLLineBuilder::endStrip() {
    if (strip_.size() < 2) {
        strip_.clear();
        return;
    }
    if (stipple_) {
        for (size_t i = 0; i + 1 < strip_.size(); ++i) emitDashes(strip_[i], strip_[i + 1]);
    } else {
        const size_t first = vertices_.size();
        vertices_.insert(vertices_.end(), strip_.begin(), strip_.end());
        emitLayers(first, strip_.size());
    }
    strip_.clear();
}

void GLLineBuilder::line(double x0, double y0, double x1, double y1) {
    beginStrip();
    vertex(x0, y0);
    vertex(x1, y1);
    endStrip();
}

void GLLineBuilder::emitLayers(size_t first, size_t count) {
    // Layer 0 is the strip as given, already at `first`; the others are copies moved by whole
    // pixels.
    ranges_.add(static_cast<int32_t>(first), static_cast<int32_t>(count));
    const float dx = static_cast<float>(2.0 / pixelWidth_);
    const float dy = static_cast<float>(2.0 / pixelHeight_);
    for (uint32_t t = 1; t < layers_; ++t) {
        const size_t start = vertices_.size();
        for (size_t i = 0; i < count; ++i) {
            LevelVertex v = vertices_[first + i];
            v.x -= dx * static_cast<float>(t);
            v.y += dy * static_cast<float>(t);
            vertices_.push_back(v);
        }
        ranges_.add(static_cast<int32_t>(start), static_cast<int32_t>(count));
    }
}

void GLLineBuilder::emitDashes(const LevelVertex& a, const LevelVertex& b) {
    // The pattern starts at the lower end, so a line reads the same whichever way it was given.
    const LevelVertex& from = a.y <= b.y ? a : b;
    const LevelVertex& to = a.y <= b.y ? b : a;
    const double dxPixels = (to.x - from.x) * pixelWidth_ / 2;
    const double dyPixels = (to.y - from.y) * pixelHeight_ / 2;
    const double length = std::hypot(dxPixels, dyPixels);
    if (!(length > 0)) return;
    for (double start = 0; start < length; start += 2 * kDashPixels) {
        const double end = std::min(start + kDashPixels, length);
        const size_t first = vertices_.size();
        for (double along : {start, end}) {
            LevelVertex v = from;
            const double f = along / length;
            v.x = static_cast<float>(from.x + (to.x - from.x) * f);
            v.y = static_cast<float>(from.y + (to.y - from.y) * f);
            v.color = blend(from.color, to.color, static_cast<float>(f));
            vertices_.push_back(v);
        }
        emitLayers(first, 2);
    }
}

void GLLineBuilder::outline() {
    const double x = 1.0 - 1.0 / pixelWidth_;
    const double y = 1.0 - 1.0 / pixelHeight_;
    // Layers move left and up, so the strips of a wider line start that far inside.
    const double x0 = -x + 2.0 * (layers_ - 1) / pixelWidth_;
    const double y1 = y - 2.0 * (layers_ - 1) / pixelHeight_;
    beginStrip();
    vertex(x0, -y);
    vertex(x, -y);
    vertex(x, y1);
    vertex(x0, y1);
    vertex(x0, -y);
    endStrip();
}

}  // namespace quenbril
