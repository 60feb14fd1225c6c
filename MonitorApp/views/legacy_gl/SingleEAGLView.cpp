#include "MonitorApp/views/legacy_gl/SingleEAGLView.h"

#include <QMouseEvent>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/LevelDisplayInput.h"

namespace quenbril {

namespace {

constexpr LevelColor kReplaying{0.15f, 0, 0, 1};
constexpr LevelColor kLive{0, 0, 0, 1};
constexpr LevelColor kFrame{0, 0, 0, 1};

}  // namespace

SingleEAGLView::SingleEAGLView(PELAudioEngine& engine, const LevelDisplayServices& services,
                               QWidget* parent)
    : GLLevelView(parent),
      engine_(engine),
      input_(services),
      maxCurvePoints_(services.settings.longRingBufLen()) {
    // The view's own frame: one point, black.
    setBorder(1.0, kFrame);
}

SingleEAGLFrame SingleEAGLView::frame() const {
    const UserSettingsManager& settings = input_.services().settings;
    PELAudioEngine& engine = engine_;
    SingleEAGLFrame frame;
    frame.points = maxCurvePoints_;
    frame.chanIndex = chanIndex_;
    frame.playbackCursor = playbackCursor_;
    const ColorHelper& colors = input_.services().colors;
    frame.lineThickness = colors.thickness();
    frame.showAudio = settings.showAudio();
    frame.showQuality = settings.showQuality();
    frame.showRFA = settings.showRFA();
    frame.showRFB = settings.showRFB();
    frame.showRFC = settings.showRFC();
    frame.showRFD = settings.showRFD();
    frame.quadversity = quadversity_;
    frame.histories = SingleHistories{&engine.levelRingBuffer(),    &engine.rfALevelRingBuffer(),
                                      &engine.rfBLevelRingBuffer(), &engine.rfCLevelRingBuffer(),
                                      &engine.rfDLevelRingBuffer(), &engine.rfDivLevelRingBuffer(),
                                      &engine.alertRingBuffer(),    &engine.qlRingBuffer()};
    frame.colors = SingleColors{vectorColor(colors.audioColor()), vectorColor(colors.rfAColor()),
                                vectorColor(colors.rfBColor()),   vectorColor(colors.rfCColor()),
                                vectorColor(colors.rfDColor()),   vectorColor(colors.qlColor())};
    return frame;
}

void SingleEAGLView::buildFrame(GLLineBuilder& lines) { buildSingleEAGLLines(frame(), lines); }

void SingleEAGLView::mousePressEvent(QMouseEvent* event) {
    if (!audioHistoryAvailable_ || event->button() != Qt::LeftButton || width() <= 0) {
        GLLevelView::mousePressEvent(event);
        return;
    }
    if (input_.mayStartReplay()) {
        playbackCursor_ = static_cast<float>(event->position().x() / width());
        input_.startReplayAt(playbackCursor_);
        background_ = kReplaying;
        update();
    }
    event->accept();
}

void SingleEAGLView::stopPlayback() {
    input_.services().playback.setDelayInSamples(0);
    resetPlaybackCursor();
}

void SingleEAGLView::resetPlaybackCursor() {
    playbackCursor_ = 0;
    background_ = kLive;
    update();
}

}  // namespace quenbril
