#include "MonitorApp/views/LevelDisplayInput.h"

#include <qnamespace.h>

#include <QString>
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKViewDelegate.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

namespace {

constexpr int kSampleRate = 48000;
constexpr double kColumnsPerSecond = 10.0;
constexpr int64_t kDelayStep = 4096;
constexpr int64_t kDelayLead = 8192;

bool isArrow(int key) {
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
}

/// The solo position an arrow key moves to.
int arrowTarget(int key, int from, int columns) {
    switch (key) {
        case Qt::Key_Up:
            return from - columns;
        case Qt::Key_Down:
            return from + columns;
        case Qt::Key_Left:
            return from - 1;
        default:
            return from + 1;
    }
}

}  // namespace

void LevelDisplayInput::moveSolo(int key) const {
    UserSettingsManager& settings = services_.settings;
    const int target = arrowTarget(key, settings.prevSoloIndex(), std::max(1, settings.columns()));
    const char* panel = services_.strips.panelIndex() == 1 ? "B" : "A";
    const auto& controllers = services_.strips.controllers();
    // A target outside the panel is dropped.
    if (target < 0 || target >= ChannelStripManager::controllersInPanel(controllers, panel)) return;
    ChannelStripController* controller =
        ChannelStripManager::controllerByIndexInPanel(controllers, target, panel);
    if (!controller) return;
    if (controller->state().channelState() == 0) {
        services_.center.post(
            kCSClickedNotification,
            Dictionary{{"index", static_cast<long long>(controller->model().csID())},
                       {"sender", "master"}});
    } else {
        settings.setPrevSoloIndex(target);
    }
}

bool LevelDisplayInput::keyDown(int key, const QString& text) const {
    const UserSettingsManager& settings = services_.settings;
    const QString upper = text.toUpper();
    if (settings.micCheckMode() && (upper == QLatin1String("Y") || upper == QLatin1String("N"))) {
        if (settings.isLocked()) return true;
        services_.center.post(kMicCheckKeyNotification, Dictionary{{"Key", upper.toStdString()}});
        return true;
    }
    return soloKeyDown(key, text);
}

bool LevelDisplayInput::soloKeyDown(int key, const QString& text) const {
    const UserSettingsManager& settings = services_.settings;
    if (settings.prevSoloIndex() == -1) return false;
    // Arrow keys carry no text here; any other key without text is dropped.
    if (text.isEmpty() && !isArrow(key)) return true;
    if (!settings.soloOn()) return false;
    if (!isArrow(key)) return false;
    if (!settings.isLocked()) moveSolo(key);
    return true;
}

int32_t LevelDisplayInput::replayDelay(float cursor, int longRingBufLen) {
    const double total =
        static_cast<double>(int64_t{longRingBufLen} * kSampleRate) / kColumnsPerSecond;
    const double distance = (1.0 - static_cast<double>(cursor)) * total;
    if (!std::isfinite(distance)) return 0;
    const auto whole = static_cast<int64_t>(std::clamp(distance, -total, total));
    int64_t delay = whole / kDelayStep * kDelayStep + kDelayLead;
    if (static_cast<double>(delay) > total) delay = static_cast<int64_t>(total - kDelayStep);
    return static_cast<int32_t>(std::clamp<int64_t>(delay, 0, std::numeric_limits<int32_t>::max()));
}

bool LevelDisplayInput::mayStartReplay() const { return !services_.settings.isLocked(); }

void LevelDisplayInput::startReplay(float fraction, ClickableMTKViewDelegate& delegate) const {
    delegate.setPlaybackCursor(fraction);
    startReplayAt(delegate.playbackCursor());
}

void LevelDisplayInput::startReplayAt(float cursor) const {
    const int columns = services_.settings.longRingBufLen();
    services_.playback.setDelayInSamples(replayDelay(cursor, columns));
    services_.center.post(kPlaybackStartedNotification);
}

void LevelDisplayInput::stopReplay(ClickableMTKViewDelegate* delegate) const {
    services_.playback.setDelayInSamples(0);
    if (delegate) delegate->setPlaybackCursor(1.0f);
}

}  // namespace quenbril
