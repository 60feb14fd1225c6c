#pragma once

#include <QRectF>
#include <QWidget>
#include <functional>
#include <memory>

#include "MonitorApp/views/LevelDisplayInput.h"

class QScrollBar;

namespace quenbril {

class ClickableMTKView;
struct PanelServices;
class GPURendererSingle;

/// The performer window's history: one strip's whole five-minute history drawn across a
/// document as wide as the visible width times the zoom (at most 8192 points), of which a
/// horizontal scroll bar picks the part in sight; the live end is the right-hand end.
///
/// Only the part in sight is drawn: the display is as wide as the view and draws the document
/// from the scroll offset on, and a click in it counts as a fraction of the whole document.
/// Where OpenGL is missing (offscreen) a black pane stands in for the display, and the history
/// settings are kept here alone. Main thread only.
class EKGScrollView : public QWidget {
  public:
    static constexpr float kMaxDocumentWidth = 8192.0f;

    /// The display draws the histories of `services.engine` and takes its clicks and keys
    /// with `services`, which outlive the view.
    explicit EKGScrollView(const PanelServices& services, QWidget* parent = nullptr);
    ~EKGScrollView() override;

    /// Sizes the document: the visible width times `zoom`, at most 8192 points. The scroll
    /// offset is kept where it still fits.
    void updateScrollContent(float zoom);
    /// Scrolls to the live end: the document's last ten points come into sight.
    void goToEnd();
    /// Scrolls so that the document's part in sight starts at `x` points (clamped).
    void scrollTo(double x);

    float zoomValue() const { return zoomValue_; }
    /// The document's width in points; 0 before the first sizing.
    double documentWidth() const { return documentWidth_; }
    /// The part of the document in sight, in document coordinates.
    QRectF visibleRect() const;
    /// The width of the part in sight (the clip width).
    int clipWidth() const;
    /// The fraction of the whole document at `x` points from the visible left edge.
    float fractionAt(double x) const;
    /// Whether the document's last column is in sight.
    bool lastColumnVisible() const;

    /// On every scroll and resizing of the document: a diagnostic line, and nothing else.
    void boundsDidChange() const;
    /// Called on every scroll and resizing of the document.
    void setBoundsChangedHandler(std::function<void()> handler) {
        boundsChanged_ = std::move(handler);
    }

    /// The display and its renderer; none where OpenGL is missing.
    ClickableMTKView* mtkView() const { return mtkView_; }
    GPURendererSingle* renderer() const { return renderer_.get(); }
    QScrollBar* scrollBar() const { return scrollBar_; }

    /// The history shown (the strip's list position) and how it is drawn; kept here and passed
    /// to the renderer when there is one.
    int32_t chanIndex() const { return chanIndex_; }
    void setChanIndex(int32_t channel);
    void setQuadversity(bool quadversity);
    bool quadversity() const { return quadversity_; }
    void setSingleLine(bool singleLine);
    bool singleLine() const { return singleLine_; }
    /// Whether a click may start a replay.
    void setAudioHistoryAvailable(bool available);
    bool audioHistoryAvailable() const { return audioHistoryAvailable_; }
    /// Back to live: no delay, no replay cursor.
    void stopPlayback();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void layOut();
    void scrolled();

    LevelDisplayInput input_;
    QWidget* display_ = nullptr;
    ClickableMTKView* mtkView_ = nullptr;
    std::unique_ptr<GPURendererSingle> renderer_;
    QScrollBar* scrollBar_ = nullptr;
    float zoomValue_ = 1.0f;
    double documentWidth_ = 0;
    int32_t chanIndex_ = 0;
    bool quadversity_ = false;
    bool singleLine_ = true;
    bool audioHistoryAvailable_ = false;
    std::function<void()> boundsChanged_;
};

}  // namespace quenbril
