#pragma once

#include <QOpenGLBuffer>
#include <array>
#include <memory>

#include "MonitorApp/views/ClickableMTKViewDelegate.h"
#include "MonitorApp/views/LevelPipeline.h"
#include "MonitorApp/views/PanelLevelMap.h"
#include "MonitorApp/views/SingleVertexFill.h"

namespace quenbril {

class ColorHelper;
class PELAudioEngine;
class UserSettingsManager;

/// Draws the performer window's single-channel display: one channel's whole history as stacked
/// bands across the width (audio, RF, quality), the active-antenna line, the alert spikes and,
/// while a replay runs, the replay cursor. The thickness and colours are read once, when it is
/// made; the show settings at every frame, from the settings it is given, and the histories of
/// the engine it is given.
class GPURendererSingle : public ClickableMTKViewDelegate {
  public:
    /// Styles the view and sizes the buffers in the theme of `colors`. `engine` and `settings`
    /// outlive the renderer.
    GPURendererSingle(ClickableMTKView& view, PELAudioEngine& engine,
                      const UserSettingsManager& settings, const ColorHelper& colors);
    ~GPURendererSingle() override;

    void setUpGL(QOpenGLFunctions_3_3_Core& gl) override;
    void tearDownGL() override;
    void drawableSizeWillChange(const Size& size) override;
    void draw(ClickableMTKView& view) override;
    void setPlaybackCursor(float cursor) override { playbackCursor_ = cursor; }
    float playbackCursor() const override { return playbackCursor_; }

    /// Fills the vertices for a drawable of `drawable` pixels in a view `frameHeight` points
    /// high. With a positive `documentWidth` (pixels) the history spans that width and the
    /// drawable shows the part from `documentOffset` (pixels) on.
    void updateState(const Size& drawable, double frameHeight, double documentWidth = 0,
                     double documentOffset = 0);
    /// The bands this frame draws, in order.
    std::vector<SingleBand> drawOrder() const;

    int32_t levelCount() const { return levelCount_; }
    void setLevelCount(int32_t count) { levelCount_ = count; }
    /// The history channel shown; outside 0 ... 127 only the cursor is drawn.
    int32_t chanIndex() const { return chanIndex_; }
    void setChanIndex(int32_t channel) { chanIndex_ = channel; }
    /// One RF line, the better of antennas A and B, instead of one per antenna.
    bool singleLine() const { return singleLine_; }
    void setSingleLine(bool singleLine) { singleLine_ = singleLine; }
    /// The receiver has four antennas: bands C and D may be drawn.
    bool quadversity() const { return quadversity_; }
    void setQuadversity(bool quadversity) { quadversity_ = quadversity; }

    uint32_t lineWidth() const { return lineWidth_; }
    const SingleVertices& vertices() const { return vertices_; }
    const SingleColors& colors() const { return colors_; }
    const std::array<uint32_t, 2>& viewportSize() const { return viewportSize_; }

  private:
    QOpenGLBuffer* bufferOf(SingleBand band);
    const std::vector<LevelVertex>& verticesOf(SingleBand band) const;

    PELAudioEngine& engine_;
    const UserSettingsManager& settings_;
    uint32_t lineWidth_;
    SingleColors colors_;
    SingleVertices vertices_;
    std::array<uint32_t, 2> viewportSize_{};
    bool singleLine_ = true;
    bool quadversity_ = false;
    int32_t levelCount_ = 0;
    int32_t chanIndex_ = 0;
    float playbackCursor_ = 1.0f;
    LevelDrawRanges ranges_;
    LevelPipeline pipeline_;
    /// One buffer per band, indexed by SingleBand.
    std::array<std::unique_ptr<QOpenGLBuffer>, 9> buffers_;
};

}  // namespace quenbril
