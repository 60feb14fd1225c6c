#pragma once

#include "MonitorApp/channelstrips/StripLayout.h"

class QOpenGLFunctions_3_3_Core;

namespace quenbril {

class ClickableMTKView;

/// What a level display view asks of the renderer that draws it. The view calls the GL
/// functions with its context current.
class ClickableMTKViewDelegate {
  public:
    virtual ~ClickableMTKViewDelegate() = default;

    /// The view's context exists: make the program and buffers.
    virtual void setUpGL(QOpenGLFunctions_3_3_Core& gl) = 0;
    /// The context goes away: release what setUpGL made.
    virtual void tearDownGL() = 0;
    /// The drawable's size in pixels.
    virtual void drawableSizeWillChange(const Size& size) = 0;
    /// Fills the buffers and draws one frame into the view's framebuffer.
    virtual void draw(ClickableMTKView& view) = 0;

    /// The replay position as a fraction of the width, 1 for none. Only the single-channel
    /// renderer keeps one; the others ignore it and answer 1.
    virtual void setPlaybackCursor(float) {}
    virtual float playbackCursor() const { return 1.0f; }
};

}  // namespace quenbril
