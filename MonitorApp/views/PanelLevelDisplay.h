#pragma once

#include <QPointer>
#include <memory>

#include "MonitorApp/channelstrips/ui/LevelDisplay.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/LevelDisplayInput.h"

namespace quenbril {

class GPURenderer;
class PELAudioEngine;

/// The main window's panel display as drawn with OpenGL: the view (not a zoom window) and its
/// renderer, which also serves the strip manager.
class PanelLevelDisplay : public LevelDisplay {
  public:
    /// Make one only where levelDisplaysCanDraw() says so. Its renderer draws the histories of
    /// `engine` in the columns `services.settings` hold, in the theme of `services.colors`;
    /// `services` also answer the view's
    /// keys. All outlive the display.
    PanelLevelDisplay(PELAudioEngine& engine, const LevelDisplayServices& services);
    ~PanelLevelDisplay() override;

    QWidget& view() override;
    PanelRenderer& renderer() override;
    /// Sets the frame rate and unpauses the view.
    void start(int framesPerSecond) override;
    void setLinesShown(bool shown) override;

    ClickableMTKView& glView() { return *view_; }
    GPURenderer& gpuRenderer() { return *renderer_; }

  private:
    std::unique_ptr<GPURenderer> renderer_;
    /// The view goes first (it releases the renderer's GL objects as it goes), unless the
    /// widget it was put in took it along already.
    QPointer<ClickableMTKView> view_;
};

/// The panel display to put over the strips: the drawn one where OpenGL is available, else a
/// blank one that still serves the strip manager.
std::unique_ptr<LevelDisplay> makePanelLevelDisplay(PELAudioEngine& engine,
                                                    const LevelDisplayServices& services);

}  // namespace quenbril
