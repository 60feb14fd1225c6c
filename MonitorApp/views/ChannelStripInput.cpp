// The strip's mouse input: presses become clicks, double clicks and long clicks, posted as the
// strip notifications; the main window turns them into link commands.

#include <QMouseEvent>
#include <QPointer>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

namespace quenbril {

void ChannelStrip::post(const char* name, const Dictionary& userInfo) {
    center_.post(name, userInfo);
}

double ChannelStrip::longClickInterval(double duration) {
    return duration >= 0 && duration <= UserSettingsManager::kMaxLongClickDuration ? duration
                                                                                   : 0.75;
}

int32_t ChannelStrip::positionInList() const {
    const auto& controllers = manager_.controllers();
    for (size_t i = 0; i < controllers.size(); ++i) {
        if (controllers[i].get() == controller_) return static_cast<int32_t>(i);
    }
    return static_cast<int32_t>(controllers.size());
}

void ChannelStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    buttonDown_ = true;
    pointerInside_ = true;
    const UserSettingsManager& settings = settings_;
    if (settings.isLocked()) return;
    QPointer<ChannelStrip> self(this);
    post(kChannelClickStartedNotification);
    if (!self) return;
    RunLoop& loop = RunLoop::main();
    downTime_ = loop.now();
    const double interval = longClickInterval(static_cast<float>(settings.longClickDuration()));
    longClickTimer_ = loop.scheduleTimer(interval, false, [this] { longClicked(); });
    holdsLongClickTimer_ = true;
}

void ChannelStrip::longClicked() {
    // A press held as the lock came on ends without its long click: nothing done on a locked
    // window acts, and a long click mutes or checks a channel.
    if (settings_.isLocked()) return;
    ChannelStripController* controller = controller_;
    if (!controller) {
        QLOG("internal error, channel strip not found");
        return;
    }
    const UserSettingsManager& settings = settings_;
    const int64_t csID = controller->model().csID();
    // Hard muting wins over mic check.
    if (settings.hardMuting()) {
        post(kHardMuteClickedNotification,
             Dictionary{{"index", csID},
                        {"sender", settings.chatUsername()},
                        {"uuid", chatId_ ? chatId_() : std::string()}});
    } else if (settings.micCheckMode()) {
        post(kChannelCheckClickedNotification, Dictionary{{"index", csID}, {"sender", "master"}});
    } else {
        post(kCSLongClickedNotification, Dictionary{{"index", csID},
                                                    {"sender", settings.chatUsername()},
                                                    {"uuid", chatId_ ? chatId_() : std::string()}});
    }
}

void ChannelStrip::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    buttonDown_ = false;
    if (settings_.isLocked()) return;
    QPointer<ChannelStrip> self(this);
    post(kChannelClickEndedNotification);
    if (!self) return;
    longClickTimer_.invalidate();

    RunLoop& loop = RunLoop::main();
    const double now = loop.now();
    const float held = static_cast<float>(now - downTime_);
    int32_t k = 0;
    if (held < kClickThreshold) {
        ChannelStripController* controller = controller_;
        k = positionInList();
        if (!controller) {
            QLOG("internal error, channel strip not found");
        } else if (event->modifiers() & Qt::ShiftModifier) {
            // Shift-click clears the strip's warnings and is no click at all.
            controller->state().reset();
            return;
        } else {
            post(kCSClickedNotification,
                 Dictionary{{"index", controller->model().csID()}, {"sender", "master"}});
            if (!self) return;
        }
    }
    if (now - lastUp_ < kDoubleClickTime) {
        post(kCSDoubleClickedNotification, Dictionary{{"index", k}});
        if (!self) return;
    }
    lastUp_ = now;
    manager_.setKeyboardFocus();
}

void ChannelStrip::mouseExited() {
    if (!holdsLongClickTimer_) return;
    holdsLongClickTimer_ = false;
    longClickTimer_.invalidate();
    post(kChannelClickEndedNotification);
}

void ChannelStrip::mouseMoveEvent(QMouseEvent* event) {
    // The press grabs the mouse, so a drag out of the strip arrives here, not as a leave.
    if (!(event->buttons() & Qt::LeftButton)) return;
    const bool inside = rect().contains(event->position().toPoint());
    if (pointerInside_ && !inside) {
        pointerInside_ = false;
        mouseExited();
    } else if (inside) {
        pointerInside_ = true;
    }
}

void ChannelStrip::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (!buttonDown_) mouseExited();
}

}  // namespace quenbril
