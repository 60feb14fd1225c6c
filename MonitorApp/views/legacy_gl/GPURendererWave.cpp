#include "MonitorApp/views/legacy_gl/GPURendererWave.h"

#include <algorithm>

#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPUTriangle.h"
#include "MonitorApp/views/PanelLevelMap.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr double kHeightScale = 0.45;
/// The waveform's background: white, but fully transparent.
constexpr LevelColor kWaveClear{1, 1, 1, 0};

}  // namespace

GPURendererWave::GPURendererWave(ClickableMTKView& view, int32_t numTriangles)
    : lastBuffer_(static_cast<size_t>(std::max(0, numTriangles)), 0.0f),
      vertices_(GPUTriangle::vertexCount() * lastBuffer_.size()) {
    view.makeTransparent();
    ranges_.add(0, static_cast<int32_t>(lastBuffer_.size()));
}

GPURendererWave::~GPURendererWave() = default;

bool GPURendererWave::takeSamples(const float* samples, int32_t count, std::vector<float>& held) {
    const size_t given = samples && count > 0 ? static_cast<size_t>(count) : 0;
    const size_t fits = std::min(given, held.size());
    std::copy(samples, samples + fits, held.begin());
    std::fill(held.begin() + static_cast<std::ptrdiff_t>(fits), held.end(), 0.0f);
    return count >= 0 && static_cast<size_t>(count) == held.size();
}

void GPURendererWave::layOut(const std::vector<float>* samples,
                             const std::array<uint32_t, 2>& drawable, const LevelColor& color,
                             std::vector<LevelVertex>& vertices) {
    const double width = drawable[0];
    const double height = drawable[1];
    const size_t n = vertices.size();
    for (size_t i = 0; i < n; ++i) {
        LevelVertex& v = vertices[i];
        v.x = static_cast<float>(-width / 2 + static_cast<double>(i) * width / n);
        const double sample = samples && i < samples->size() ? (*samples)[i] : 0.0;
        v.y = static_cast<float>(kHeightScale * height * sample);
        v.color = color;
    }
}

void GPURendererWave::drawBuffer(const float* samples, int32_t count) {
    if (!takeSamples(samples, count, lastBuffer_)) QLOG("Incorrect amount of samples");
    layOut(&lastBuffer_, viewportSize_, audioColor_, vertices_);
}

void GPURendererWave::drawAgain() { drawBuffer(lastBuffer_.data(), numTriangles()); }

void GPURendererWave::drawEmpty() { layOut(nullptr, viewportSize_, audioColor_, vertices_); }

void GPURendererWave::setUpGL(QOpenGLFunctions_3_3_Core& gl) {
    pipeline_.create(gl);
    buffer_ = pipeline_.makeBuffer(vertices_.size());
}

void GPURendererWave::tearDownGL() {
    buffer_.reset();
    pipeline_.destroy();
}

void GPURendererWave::drawableSizeWillChange(const Size& size) {
    viewportSize_ = {viewportDimension(size.width), viewportDimension(size.height)};
}

void GPURendererWave::draw(ClickableMTKView&) {
    if (!pipeline_.begin(kWaveClear, viewportSize_) || !buffer_) return;
    pipeline_.draw(*buffer_, vertices_.data(), vertices_.size(), ranges_);
    pipeline_.end();
}

}  // namespace quenbril
