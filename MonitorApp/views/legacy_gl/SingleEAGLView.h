#pragma once

#include "MonitorApp/views/LevelDisplayInput.h"
#include "MonitorApp/views/legacy_gl/GLLevelView.h"
#include "MonitorApp/views/legacy_gl/SingleEAGLLines.h"

namespace quenbril {

class PELAudioEngine;

/// The OpenGL single-channel display: one channel's whole history across the view, the newest
/// column at the left, with the RF lines in pieces, stippled alert lines and the replay cursor,
/// which is always drawn, inside a black border one point wide. A click starts a replay where there
/// is a history to replay; the background then turns dark red until the replay stops.
class SingleEAGLView : public GLLevelView {
  public:
    /// The view draws the histories of `engine` as `services.settings` say and starts its
    /// replays with `services`; all outlive the view.
    SingleEAGLView(PELAudioEngine& engine, const LevelDisplayServices& services,
                   QWidget* parent = nullptr);

    /// The history channel shown; outside 0 ... 127 only the cursor is drawn.
    int32_t chanIndex() const { return chanIndex_; }
    void setChanIndex(int32_t channel) { chanIndex_ = channel; }
    float playbackCursor() const { return playbackCursor_; }
    bool audioHistoryAvailable() const { return audioHistoryAvailable_; }
    void setAudioHistoryAvailable(bool available) { audioHistoryAvailable_ = available; }
    bool quadversity() const { return quadversity_; }
    void setQuadversity(bool quadversity) { quadversity_ = quadversity; }
    /// Kept for the owner; drawing does not read it.
    bool useAveraging() const { return useAveraging_; }
    void setUseAveraging(bool averaging) { useAveraging_ = averaging; }
    /// Points per band, the history length when the view was made.
    int maxCurvePoints() const { return maxCurvePoints_; }

    /// Back to live: no delay, the cursor at the left edge, the background black.
    void stopPlayback();
    /// The cursor at the left edge and the background black, the delay left as it is.
    void resetPlaybackCursor();
    const LevelColor& background() const { return background_; }

    /// The frame drawn next, read from the settings, the colours and the engine's histories.
    SingleEAGLFrame frame() const;

  protected:
    void buildFrame(GLLineBuilder& lines) override;
    LevelColor clearColor() const override { return background_; }
    void mousePressEvent(QMouseEvent* event) override;

  private:
    PELAudioEngine& engine_;
    LevelDisplayInput input_;
    int32_t chanIndex_ = 0;
    float playbackCursor_ = 0;
    int maxCurvePoints_;
    bool audioHistoryAvailable_ = false;
    bool quadversity_ = false;
    bool useAveraging_ = true;
    LevelColor background_ = kClearLevelColor;
};

}  // namespace quenbril
