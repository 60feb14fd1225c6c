#include "MonitorApp/views/GPURenderer.h"

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPUTriangle.h"
#include "MonitorApp/views/PanelVertexFill.h"

namespace quenbril {

GPURenderer::GPURenderer(ClickableMTKView& view, PELAudioEngine& engine,
                         const UserSettingsManager& settings, const ColorHelper& colors)
    : engine_(engine),
      settings_(settings),
      lineWidth_(lineLayers(colors.thickness())),
      audioColor_(vectorColor(colors.audioColor())),
      rfColor_(vectorColor(colors.rfColor())) {
    const size_t vertices = GPUTriangle::vertexCount() * lineWidth_ * kPanelLayerVertices;
    audioVertices_.resize(vertices);
    rfVertices_.resize(vertices);
    view.makeTransparent();
}

GPURenderer::~GPURenderer() = default;

void GPURenderer::setUpGL(QOpenGLFunctions_3_3_Core& gl) {
    pipeline_.create(gl);
    audioBuffer_ = pipeline_.makeBuffer(audioVertices_.size());
    rfBuffer_ = pipeline_.makeBuffer(rfVertices_.size());
}

void GPURenderer::tearDownGL() {
    audioBuffer_.reset();
    rfBuffer_.reset();
    pipeline_.destroy();
}

void GPURenderer::updateState(const Size& drawable, double frameHeight) {
    PanelFill fill;
    fill.layers = lineWidth_;
    fill.columns = settings_.columns();
    fill.drawableWidth = drawable.width;
    fill.drawableHeight = drawable.height;
    fill.frameHeight = frameHeight;
    fill.panelMap = &panelMap();
    fill.levels = &engine_.levelRingBuffer();
    fill.rf = &engine_.rfLevelRingBuffer();
    fill.audioColor = audioColor_;
    fill.rfColor = rfColor_;
    fillPanelVertices(fill, audioVertices_, rfVertices_);
}

void GPURenderer::draw(ClickableMTKView& view) {
    updateState(view.drawableSize(), view.height());
    if (!pipeline_.begin(kClearLevelColor, viewportSize()) || !audioBuffer_ || !rfBuffer_) return;
    panelDrawRanges(levelCount(), lineWidth_, panelMap(), ranges_);
    // The RF lines lie over the audio lines.
    pipeline_.draw(*audioBuffer_, audioVertices_.data(), audioVertices_.size(), ranges_);
    pipeline_.draw(*rfBuffer_, rfVertices_.data(), rfVertices_.size(), ranges_);
    pipeline_.end();
}

}  // namespace quenbril
