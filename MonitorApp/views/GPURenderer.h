#pragma once

#include <QOpenGLBuffer>
#include <memory>
#include <vector>

#include "MonitorApp/views/ClickableMTKViewDelegate.h"
#include "MonitorApp/views/LevelPipeline.h"
#include "MonitorApp/views/LevelVertex.h"
#include "MonitorApp/views/PanelLevelMap.h"

namespace quenbril {

class ColorHelper;
class PELAudioEngine;
class UserSettingsManager;

/// Draws the main window's panel display: for every shown strip a line of its last 128 audio
/// levels and over it a line of its last 128 RF levels, in the strips' grid of 128-point cells.
/// The line thickness and the colours are read once, when it is made: a change of the colour
/// settings reaches the display with a new renderer. It draws the histories of the engine it is
/// given, in the columns the settings it is given hold at each frame.
class GPURenderer : public ClickableMTKViewDelegate, public PanelLevelMap {
  public:
    /// Styles the view (transparent over the strips) and sizes the buffers. `engine` and
    /// `settings` outlive the renderer; the theme is read from `colors` here.
    GPURenderer(ClickableMTKView& view, PELAudioEngine& engine, const UserSettingsManager& settings,
                const ColorHelper& colors);
    ~GPURenderer() override;

    void setUpGL(QOpenGLFunctions_3_3_Core& gl) override;
    void tearDownGL() override;
    void drawableSizeWillChange(const Size& size) override {
        PanelLevelMap::drawableSizeWillChange(size);
    }
    void draw(ClickableMTKView& view) override;

    /// Fills the vertices from the histories for a drawable of `drawable` pixels in a view
    /// `frameHeight` points high.
    void updateState(const Size& drawable, double frameHeight);

    /// Line layers (the thickness truncated, 0 to 16).
    uint32_t lineWidth() const { return lineWidth_; }
    const std::vector<LevelVertex>& audioVertices() const { return audioVertices_; }
    const std::vector<LevelVertex>& rfVertices() const { return rfVertices_; }
    const LevelColor& audioColor() const { return audioColor_; }
    const LevelColor& rfColor() const { return rfColor_; }
    bool hasPipeline() const { return pipeline_.isValid(); }

  private:
    PELAudioEngine& engine_;
    const UserSettingsManager& settings_;
    uint32_t lineWidth_;
    LevelColor audioColor_;
    LevelColor rfColor_;
    std::vector<LevelVertex> audioVertices_;
    std::vector<LevelVertex> rfVertices_;
    LevelDrawRanges ranges_;
    LevelPipeline pipeline_;
    std::unique_ptr<QOpenGLBuffer> audioBuffer_;
    std::unique_ptr<QOpenGLBuffer> rfBuffer_;
};

}  // namespace quenbril
