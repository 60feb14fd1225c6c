#include "MonitorApp/channelstrips/ui/PlaceholderStripView.h"

#include <QPainter>
#include <QPainterPath>

#include "MonitorApp/channelstrips/StripLayout.h"
#include "MonitorApp/channelstrips/ui/StripGeometry.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

namespace {

constexpr int kTitleHeight = 22;
constexpr int kTitleInset = 6;

}  // namespace

PlaceholderStripView::PlaceholderStripView(QWidget* parent) : QWidget(parent) {
    resize(static_cast<int>(kStripCellSize), static_cast<int>(kStripCellSize));
}

void PlaceholderStripView::updateAppearance(const ChannelStripState& state) {
    const double b = UserSettingsManager::sharedInstance().channelStripBorder();
    switch (state.channelState()) {
        case ChannelStripState::kOff:
            borderColor_ =
                toQColor(ColorHelper::colorForArray(ColorHelper::colorForChannelStripBorder()));
            borderWidth_ = b;
            break;
        case ChannelStripState::kActive:
            borderColor_ = toQColor(ColorHelper::vozodGreen());
            borderWidth_ = b + 1;
            break;
        case ChannelStripState::kSoloed:
        case ChannelStripState::kHardSoloed:
            borderColor_ = Qt::white;
            borderWidth_ = b + 1;
            break;
        case ChannelStripState::kAutoSoloed:
            borderColor_ = QColor::fromRgbF(27 / 255.0, 255 / 255.0, 88 / 255.0, 0.5);
            borderWidth_ = b + 1;
            break;
        default:
            // A state the strip does not know leaves the border as it was.
            return;
    }
    update();
}

void PlaceholderStripView::redraw() { update(); }

void PlaceholderStripView::setChannelState(int32_t warningCode) { warningCode_ = warningCode; }

void PlaceholderStripView::setBatteryPower(int32_t value) {
    if (value == -2) {
        batText_.clear();
        timeAdded_ = false;
    } else if (!timeAdded_) {
        batText_ = value == -1 ? "?" : std::to_string(value) + "%";
    }
}

void PlaceholderStripView::setBatteryString(const std::string& text) {
    batText_ = text;
    timeAdded_ = true;
}

void PlaceholderStripView::setAntennaData(const std::string& /*antennas*/) {}

void PlaceholderStripView::setTimecode(const SMPTETimecode& /*timecode*/) {}

void PlaceholderStripView::setTimecodeNotFound(int32_t /*seconds*/) {}

void PlaceholderStripView::setQuality(int32_t /*quality*/) {}

void PlaceholderStripView::setTitle(const std::string& title) {
    const QString text = QString::fromStdString(title);
    if (text == title_) return;
    title_ = text;
    update();
}

void PlaceholderStripView::setInputChannel(int32_t /*input*/) {}

void PlaceholderStripView::setAlternativeInputText(const std::string& /*text*/) {}

void PlaceholderStripView::setImage(const Bytes* /*tiff*/) {}

void PlaceholderStripView::setChannelColor(const std::optional<Color>& /*color*/) {}

void PlaceholderStripView::removeWireless() {
    batText_.clear();
    timeAdded_ = false;
}

void PlaceholderStripView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF cell = rect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(backgroundColor());
    painter.drawRoundedRect(cell, kCornerRadius, kCornerRadius);

    // The border lies inside the cell, over the background, as a layer's border does.
    if (borderWidth_ > 0 && borderColor_.alpha() > 0) {
        const double half = borderWidth_ / 2;
        QPen pen(borderColor_, borderWidth_);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(cell.adjusted(half, half, -half, -half), kCornerRadius - half,
                                kCornerRadius - half);
    }

    // Titles are shown as they are written, never read as markup.
    painter.setPen(Qt::white);
    const QRect titleRect(kTitleInset, kTitleInset, width() - 2 * kTitleInset, kTitleHeight);
    const QString shown =
        painter.fontMetrics().elidedText(title_, Qt::ElideRight, titleRect.width());
    painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignVCenter, shown);
}

}  // namespace quenbril
