#include "MonitorApp/views/GPURendererSingle.h"

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPUTriangle.h"

namespace quenbril {

namespace {

size_t bandIndex(SingleBand band) { return static_cast<size_t>(band); }

}  // namespace

GPURendererSingle::GPURendererSingle(ClickableMTKView& view, PELAudioEngine& engine,
                                     const UserSettingsManager& settings, const ColorHelper& colors)
    : engine_(engine),
      settings_(settings),
      lineWidth_(lineLayers(colors.thickness())),
      colors_{vectorColor(colors.audioColor()), vectorColor(colors.rfAColor()),
              vectorColor(colors.rfBColor()),   vectorColor(colors.rfCColor()),
              vectorColor(colors.rfDColor()),   vectorColor(colors.qlColor())},
      vertices_(static_cast<uint32_t>(GPUTriangle::vertexCount()) * lineWidth_) {
    view.makeTransparent();
}

GPURendererSingle::~GPURendererSingle() = default;

void GPURendererSingle::setUpGL(QOpenGLFunctions_3_3_Core& gl) {
    pipeline_.create(gl);
    for (size_t i = 0; i < buffers_.size(); ++i) {
        const auto band = static_cast<SingleBand>(i);
        const size_t records = band == SingleBand::Cursor ? kCursorRecords : vertices_.audio.size();
        buffers_[i] = pipeline_.makeBuffer(records);
    }
}

void GPURendererSingle::tearDownGL() {
    for (auto& buffer : buffers_) buffer.reset();
    pipeline_.destroy();
}

void GPURendererSingle::drawableSizeWillChange(const Size& size) {
    viewportSize_ = {viewportDimension(size.width), viewportDimension(size.height)};
}

void GPURendererSingle::updateState(const Size& drawable, double frameHeight, double documentWidth,
                                    double documentOffset) {
    PELAudioEngine& engine = engine_;
    SingleFill fill;
    fill.layers = lineWidth_;
    fill.drawableWidth = drawable.width;
    if (documentWidth > 0) {
        // The document is centred on 0; its part from the offset goes to the viewport's left.
        fill.drawableWidth = documentWidth;
        fill.xShift = documentWidth / 2 - documentOffset - drawable.width / 2;
    }
    fill.drawableHeight = drawable.height;
    fill.frameHeight = frameHeight;
    fill.chanIndex = chanIndex_;
    fill.singleLine = singleLine_;
    fill.playbackCursor = playbackCursor_;
    fill.histories = SingleHistories{&engine.levelRingBuffer(),    &engine.rfALevelRingBuffer(),
                                     &engine.rfBLevelRingBuffer(), &engine.rfCLevelRingBuffer(),
                                     &engine.rfDLevelRingBuffer(), &engine.rfDivLevelRingBuffer(),
                                     &engine.alertRingBuffer(),    &engine.qlRingBuffer()};
    fill.colors = colors_;
    fillSingleVertices(fill, vertices_);
}

std::vector<SingleBand> GPURendererSingle::drawOrder() const {
    const UserSettingsManager& settings = settings_;
    SingleDrawFlags flags;
    flags.showAudio = settings.showAudio();
    flags.showRFA = settings.showRFA();
    flags.showRFB = settings.showRFB();
    flags.showRFC = settings.showRFC();
    flags.showRFD = settings.showRFD();
    flags.showQuality = settings.showQuality();
    flags.singleLine = singleLine_;
    flags.quadversity = quadversity_;
    flags.cursorShown = playbackCursor_ < 1.0f;
    flags.channelValid = isSingleChannel(chanIndex_);
    flags.layers = lineWidth_;
    return singleDrawOrder(flags);
}

QOpenGLBuffer* GPURendererSingle::bufferOf(SingleBand band) {
    return buffers_[bandIndex(band)].get();
}

const std::vector<LevelVertex>& GPURendererSingle::verticesOf(SingleBand band) const {
    switch (band) {
        case SingleBand::Audio:
            return vertices_.audio;
        case SingleBand::RFA:
            return vertices_.rfA;
        case SingleBand::RFB:
            return vertices_.rfB;
        case SingleBand::RFC:
            return vertices_.rfC;
        case SingleBand::RFD:
            return vertices_.rfD;
        case SingleBand::Quality:
            return vertices_.quality;
        case SingleBand::Diversity:
            return vertices_.diversity;
        case SingleBand::Alert:
        case SingleBand::Cursor:
            break;
    }
    return vertices_.alert;
}

void GPURendererSingle::draw(ClickableMTKView& view) {
    const double ratio = view.devicePixelRatioF();
    updateState(view.drawableSize(), view.height(), view.documentWidth() * ratio,
                view.documentOffset() * ratio);
    // Dark red while a replay runs, black when live.
    if (!pipeline_.begin(view.replayBackground(), viewportSize_)) return;
    for (SingleBand band : drawOrder()) {
        QOpenGLBuffer* buffer = bufferOf(band);
        if (!buffer) continue;
        singleDrawRanges(band, lineWidth_, ranges_);
        if (band == SingleBand::Cursor) {
            pipeline_.draw(*buffer, vertices_.cursor.data(), vertices_.cursor.size(), ranges_);
        } else {
            const std::vector<LevelVertex>& vertices = verticesOf(band);
            pipeline_.draw(*buffer, vertices.data(), vertices.size(), ranges_);
        }
    }
    pipeline_.end();
}

}  // namespace quenbril
