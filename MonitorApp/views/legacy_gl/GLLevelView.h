#pragma once

#include <QImage>
#include <QOpenGLWidget>
#include <QSize>
#include <array>
#include <memory>

#include "MonitorApp/views/LevelPipeline.h"
#include "MonitorApp/views/legacy_gl/GLLineBuilder.h"
#include "foundation/Timer.h"

class QOpenGLBuffer;
class QOpenGLFunctions_3_3_Core;

namespace quenbril {

/// The base of the OpenGL level views: a transparent GL widget that, at every frame, lets the
/// view build its lines in clip units (the level program is given a viewport of 2 x 2, which
/// makes its mapping the identity) and draws them with one call. Its animation timer, when
/// started, asks for a frame every animation interval. Make one only where
/// levelDisplaysCanDraw() says so.
class GLLevelView : public QOpenGLWidget {
  public:
    explicit GLLevelView(QWidget* parent = nullptr);
    ~GLLevelView() override;

    bool drawingEnabled() const { return drawingEnabled_; }
    void setDrawingEnabled(bool enabled) { drawingEnabled_ = enabled; }

    /// Seconds between the animation timer's frames; a running animation restarts with it.
    double animationInterval() const { return animationInterval_; }
    void setAnimationInterval(double seconds);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animationTimer_.isValid(); }

    /// Asks for a frame, drawn on the next pass of the event loop.
    void drawView() { update(); }
    /// Remakes the GL resources and draws the view again.
    void reinit();
    /// Draws one filled triangle into the view's framebuffer over what is there.
    void drawAnObject();
    /// The triangle drawAnObject() draws, in clip units.
    static std::array<LevelVertex, 3> anObject();

    /// A border of `points` along the view's edges, drawn over every frame whether drawing is
    /// enabled or not; 0 draws none (the default).
    void setBorder(double points, const LevelColor& color);
    double borderWidth() const { return borderWidth_; }
    const LevelColor& borderColor() const { return borderColor_; }

    /// Asks `image` for its size and keeps nothing: the views draw no textures.
    QSize loadTexture(const QImage& image) const { return image.size(); }

    /// The lines of the last frame, in clip units.
    const GLLineBuilder& lines() const { return lines_; }
    int framesDrawn() const { return framesDrawn_; }

  protected:
    /// Builds the frame's lines (drawing is enabled); `lines` is reset to the drawable's size
    /// with the colour (1.0, 0.85, 0.35).
    virtual void buildFrame(GLLineBuilder& lines) = 0;
    /// The colour the frame is cleared to.
    virtual LevelColor clearColor() const { return kClearLevelColor; }

    void initializeGL() override;
    void paintGL() override;

  private:
    void setUpGL();
    void tearDownGL();
    QOpenGLBuffer* bufferFor(size_t vertices);

    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    LevelPipeline pipeline_;
    std::unique_ptr<QOpenGLBuffer> buffer_;
    size_t bufferCapacity_ = 0;
    GLLineBuilder lines_;
    Timer animationTimer_;
    double animationInterval_ = 1.0 / 60.0;
    bool drawingEnabled_ = true;
    int framesDrawn_ = 0;
    double borderWidth_ = 0;
    LevelColor borderColor_ = kClearLevelColor;
};

}  // namespace quenbril
