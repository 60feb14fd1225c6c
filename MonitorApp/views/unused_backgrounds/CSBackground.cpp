#include "MonitorApp/views/unused_backgrounds/CSBackground.h"

#include <QPaintEvent>
#include <QPainter>
#include <iterator>

#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/StripElementPainter.h"

namespace quenbril {

CSBackground::CSBackground(const UserSettingsManager& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    loadImages();
    currentImage_ = bgImage_;
}

void CSBackground::loadImages() {
    flipped_ = settings_.flipChannelStrip();
    const QString suffix = flipped_ ? QStringLiteral("_flipped") : QString();
    bgImage_ = QStringLiteral("cs_back") + suffix;
    scpImage_ = QStringLiteral("error_SCP") + suffix;
    batImage_ = QStringLiteral("error_low-battery") + suffix;
    rfImage_ = QStringLiteral("error_low_rf") + suffix;
}

void CSBackground::updateImages() {
    loadImages();
    showPatternOf(channelState_);
    update();
}

void CSBackground::setChannelState(uint64_t code) {
    if (code == channelState_) return;
    showPatternOf(code);
    channelState_ = code;
    update();
}

void CSBackground::showPatternOf(uint64_t code) {
    // Any other code keeps the pattern shown.
    const QString* patterns[] = {&bgImage_, &scpImage_, &batImage_, &rfImage_};
    if (code < std::size(patterns)) currentImage_ = *patterns[code];
}

void CSBackground::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Patterns tile from the view's bottom-left corner, whatever part is being repainted.
    painter.setClipRect(event->rect());
    fillWithPattern(painter, QRectF(rect()), stripImage(currentImage_));
}

}  // namespace quenbril
