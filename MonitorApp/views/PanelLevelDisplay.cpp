#include "MonitorApp/views/PanelLevelDisplay.h"

#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/views/BlankLevelDisplay.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURenderer.h"

namespace quenbril {

PanelLevelDisplay::PanelLevelDisplay(PELAudioEngine& engine, const LevelDisplayServices& services)
    : view_(new ClickableMTKView(services)) {
    view_->setZoomWindow(false);
    renderer_ = std::make_unique<GPURenderer>(*view_, engine, services.settings, services.colors);
    renderer_->drawableSizeWillChange(view_->drawableSize());
    view_->setDelegate(renderer_.get());
}

PanelLevelDisplay::~PanelLevelDisplay() { delete view_.data(); }

QWidget& PanelLevelDisplay::view() { return *view_; }

PanelRenderer& PanelLevelDisplay::renderer() { return *renderer_; }

void PanelLevelDisplay::start(int framesPerSecond) {
    view_->setPreferredFramesPerSecond(framesPerSecond);
    view_->setPaused(false);
}

void PanelLevelDisplay::setLinesShown(bool shown) { view_->setLinesShown(shown); }

std::unique_ptr<LevelDisplay> makePanelLevelDisplay(PELAudioEngine& engine,
                                                    const LevelDisplayServices& services) {
    if (!levelDisplaysCanDraw()) return std::make_unique<BlankLevelDisplay>(services);
    return std::make_unique<PanelLevelDisplay>(engine, services);
}

}  // namespace quenbril
