#pragma once

#include <QOpenGLWidget>
#include <QPointer>

#include "MonitorApp/channelstrips/StripLayout.h"
#include "MonitorApp/views/LevelDisplayInput.h"
#include "MonitorApp/views/LevelVertex.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"

class QOpenGLFunctions_3_3_Core;

namespace quenbril {

class ClickableMTKViewDelegate;

/// The GL view of a level display: its delegate draws into it at the preferred frame rate (a
/// repeating timer of the main run loop), and it takes the display's keys and, in the
/// performer window's single-channel display (a zoom window), the click that starts a replay.
/// Make one only where levelDisplaysCanDraw() says so.
class ClickableMTKView : public QOpenGLWidget {
  public:
    /// `services` answer the display's keys and clicks (and tell of the lock).
    explicit ClickableMTKView(const LevelDisplayServices& services, QWidget* parent = nullptr);
    ~ClickableMTKView() override;

    /// The renderer; not owned. It must outlive the view or be cleared first.
    void setDelegate(ClickableMTKViewDelegate* delegate);
    ClickableMTKViewDelegate* delegate() const { return delegate_; }

    /// Frames per second while not paused; 0 or less draws only when asked.
    void setPreferredFramesPerSecond(int framesPerSecond);
    int preferredFramesPerSecond() const { return framesPerSecond_; }
    void setPaused(bool paused);
    bool isPaused() const { return paused_; }

    /// YES in the performer window's display, where a click starts a replay; NO in the main
    /// window's panel display.
    bool zoomWindow() const { return zoomWindow_; }
    void setZoomWindow(bool zoomWindow) { zoomWindow_ = zoomWindow; }
    /// The part of a wider document this view shows (the performer window's history draws only
    /// what is in sight): its left edge and the document's width, in points. A width of 0 or
    /// less makes the view its own document, which is the default.
    void setDocumentSpan(double offset, double documentWidth);
    double documentOffset() const { return documentOffset_; }
    double documentWidth() const { return documentWidth_ > 0 ? documentWidth_ : width(); }
    /// The fraction of the whole document at `x` points from the view's left edge.
    float documentFraction(double x) const;
    /// Whether there is a history to replay.
    bool audioHistoryAvailable() const { return audioHistoryAvailable_; }
    void setAudioHistoryAvailable(bool available) { audioHistoryAvailable_ = available; }

    /// Lets the strips beneath show wherever the renderer draws nothing (set before showing).
    void makeTransparent();

    /// The size of the framebuffer in pixels: the size in points times the pixel ratio.
    Size drawableSize() const;

    /// Back to live: the playback manager's delay 0, the delegate's cursor 1, the background
    /// black.
    void stopPlayback();
    /// The background that tells the replay state: dark red after a click started one,
    /// black after stopPlayback().
    const LevelColor& replayBackground() const { return replayBackground_; }

    /// Frames drawn so far.
    int framesDrawn() const { return framesDrawn_; }

    /// Overlays over the display (a divider line and a source box), taken as children of the
    /// view; a release of the mouse in a display that is no zoom window removes them.
    QWidget* divider() const { return divider_; }
    void setDivider(QWidget* overlay) { divider_ = adoptOverlay(overlay); }
    QWidget* sourceBox() const { return sourceBox_; }
    void setSourceBox(QWidget* overlay) { sourceBox_ = adoptOverlay(overlay); }

    /// Whether the lines are drawn (the default). The view draws none, and lets what lies
    /// beneath show, while this is off and while the interface is locked: it stacks on top of
    /// every other widget, so a cover over it could not hide its lines.
    void setLinesShown(bool shown);
    /// True while the view draws lines: shown and not locked.
    bool drawsLines() const;

  protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QWidget* adoptOverlay(QWidget* overlay);
    void restartFrameTimer();
    void tearDownGL();

    LevelDisplayInput input_;
    ClickableMTKViewDelegate* delegate_ = nullptr;
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    bool glReady_ = false;
    Timer frameTimer_;
    int framesPerSecond_ = 0;
    bool paused_ = true;
    bool zoomWindow_ = true;
    bool audioHistoryAvailable_ = false;
    double documentOffset_ = 0;
    double documentWidth_ = 0;
    LevelColor replayBackground_{0, 0, 0, 1};
    int framesDrawn_ = 0;
    QPointer<QWidget> divider_;
    QPointer<QWidget> sourceBox_;
    bool linesShown_ = true;
    NotificationObserver lockObserver_;
};

}  // namespace quenbril
