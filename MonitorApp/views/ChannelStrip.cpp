#include "MonitorApp/views/ChannelStrip.h"

#include <QByteArray>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <utility>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/SMPTETimecode.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/StripElementPainter.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

constexpr double kCornerRadius = 6;
constexpr int kTitleFontSize = 18;
constexpr int kInfoFontSize = 11;
const QColor kMeterGreen = QColor::fromRgbF(0, 1, 0);
const QColor kMeterRed = QColor::fromRgbF(1, 0, 0);
const QColor kDarkGrey = QColor::fromRgbF(1.0 / 3, 1.0 / 3, 1.0 / 3);
const QColor kTimecodeLost = QColor::fromRgbF(1.0, 0.23, 0.19);

int characterCount(const QString& text) { return static_cast<int>(text.toUcs4().size()); }

}  // namespace

ChannelStrip::ChannelStrip(const StripViewServices& services, ChatId chatId, QWidget* parent)
    : QWidget(parent),
      settings_(services.settings),
      center_(services.center),
      manager_(services.manager),
      chatId_(std::move(chatId)) {
    resize(static_cast<int>(kSize), static_cast<int>(kSize));
    const double w = width();
    const double h = height();

    for (Part text : {Title, Input, BatteryText, Antenna, Antenna2, Timecode, TimecodeParams}) {
        el(text).isText = true;
    }
    el(Picture).frame = QRectF(0, 27, w, h - 27);
    el(Picture).opacity = 0.2;
    el(Warning).frame = QRectF(0, 0, w, h);
    el(Warning).z = 10;
    el(Divider).background = toQColor(ColorHelper::vozodDarkGray());
    el(Divider).opacity = 0.5;
    for (Part overlay : {HardMute, ReceiverMute}) {
        el(overlay).frame = QRectF(0, 0, w, h);
        el(overlay).z = 20;
        // Shown once the strip's state says it is muted.
        el(overlay).hidden = true;
    }
    el(HardMute).pattern = QStringLiteral("hardmute");
    el(ReceiverMute).pattern = QStringLiteral("receiverMuted");
    el(Title).fontSize = kTitleFontSize;
    el(Title).textColor = Qt::black;
    el(BatteryText).fontSize = kInfoFontSize;
    el(Antenna).fontSize = kInfoFontSize;
    el(Antenna2).fontSize = kInfoFontSize;
    el(Timecode).fontSize = kTitleFontSize;
    el(Timecode).background = Qt::black;
    el(Timecode).textColor = toQColor(ColorHelper::vozodGreen());
    el(TimecodeParams).fontSize = kInfoFontSize;
    el(TimecodeParams).alignment = Qt::AlignRight;
    el(BatteryIcon).frame = QRectF(0, 0, w, h);
    el(BatteryMeter).frame = QRectF(76, h - 17, 6, 6);
    el(BatteryMeter).background = kMeterGreen;
    el(BatteryMeter).z = 10;

    layOut();
    el(MicCheck).frame = flipped_ ? QRectF(0, 0, w, 28) : QRectF(0, 100, w, 28);
    el(MicCheck).cornerRadius = 4;
    el(MicCheck).background = QColor::fromRgbF(1, 0, 0, 0.5);
    el(BatteryIcon).pattern =
        flipped_ ? QStringLiteral("zor_bat2_flipped") : QStringLiteral("zor_bat2");
    qualityLayer_.setFrame(QRectF(0, q_, w, 5));
    qualityLayer_.setQuality(0);
    el(Quality).frame = qualityLayer_.frame();

    for (int part = 0; part < kPartCount; ++part) el(static_cast<Part>(part)).attached = false;
    for (Part part : {Picture, Warning, Divider, Quality, HardMute, ReceiverMute, TextBackground,
                      Title, Input, BatteryText, Antenna, Antenna2, MicCheck}) {
        attach(part);
    }
    setChannelColor(ColorHelper::colorForGroup(0));
}

ChannelStrip::~ChannelStrip() = default;

void ChannelStrip::attach(Part part) {
    el(part).attached = true;
    el(part).order = nextOrder_++;
}

void ChannelStrip::detach(Part part) { el(part).attached = false; }

void ChannelStrip::layOut() {
    flipped_ = settings_.flipChannelStrip();
    const double w = width();
    const double h = height();
    f_ = flipped_ ? std::trunc(h - 27) : 0;
    q_ = h * 0.25 - 5;
    p_ = static_cast<float>(w * 0.25);
    // The flipped info row mirrors the standard one, so that it keeps as clear of the bottom
    // edge (and of a wide border) as the standard one does of the top edge.
    auto alongEdge = [&](double standardY, double height) {
        return flipped_ ? h - standardY - height : standardY;
    };
    const double infoY = alongEdge(h - 21, 14);

    el(Title).frame = QRectF(0, f_, w, q_);
    el(TextBackground).frame = QRectF(0, f_, w, q_);
    el(Input).frame = QRectF(0, alongEdge(h - 32, 27), 32, 27);
    el(BatteryText).frame = QRectF(w - p_ - 8, infoY, p_ + 8, 14);
    el(Antenna).frame = QRectF(w * 0.25 - 4, infoY, p_ * 0.75, 14);
    el(TimecodeParams).frame = QRectF(20, infoY, w - 25, 14);
    el(Timecode).frame = QRectF(0, f_, w, std::trunc(q_));
    el(Antenna2).frame = QRectF(el(Antenna).frame.right(), infoY, p_ * 0.75, 14);
    const float band = static_cast<float>(q_);
    el(Divider).frame = QRectF(0, h - band - f_, w, band);
}

QRectF ChannelStrip::clearOfBorder() const {
    // The widest border the strip draws, whatever its state, so that no text moves as the
    // state changes.
    const double widest = std::max(0, settings_.channelStripBorder()) + 1.0;
    return QRectF(rect()).adjusted(widest, widest, -widest, -widest);
}

std::vector<ChannelStrip::Part> ChannelStrip::paintOrder() const {
    std::vector<Part> order;
    for (int part = 0; part < kPartCount; ++part) {
        if (elements_[part].attached) order.push_back(static_cast<Part>(part));
    }
    std::sort(order.begin(), order.end(), [this](Part a, Part b) {
        const StripElement& x = elements_[a];
        const StripElement& y = elements_[b];
        return x.z != y.z ? x.z < y.z : x.order < y.order;
    });
    return order;
}

void ChannelStrip::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    QPainterPath cell;
    cell.addRoundedRect(bounds, kCornerRadius, kCornerRadius);
    painter.fillPath(cell, backgroundColor());

    painter.save();
    painter.setClipPath(cell);
    const double h = height();
    const QRectF clear = clearOfBorder();
    for (Part part : paintOrder()) {
        if (part == Quality) {
            if (!element(Quality).hidden) qualityLayer_.paint(painter, h);
        } else {
            paintStripElement(painter, element(part), h, clear);
        }
    }
    painter.restore();

    // The border lies inside the cell, above everything in it.
    if (borderWidth_ > 0 && borderColor_.alpha() > 0) {
        const double half = borderWidth_ / 2;
        painter.setPen(QPen(borderColor_, borderWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(half, half, -half, -half), kCornerRadius - half,
                                kCornerRadius - half);
    }
}

// ---- Appearance by state ----

void ChannelStrip::updateAppearance(const ChannelStripState& state) {
    const double b = settings_.channelStripBorder();
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
            break;
    }
    el(HardMute).hidden = !state.hardMuted();
    el(ReceiverMute).hidden = !state.receiverMuted();

    const bool micCheckMode = settings_.micCheckMode();
    const MicCheckState& check = state.micCheckState();
    if (micCheckMode && check.needsChecking()) {
        el(MicCheck).background =
            check.checked() ? QColor::fromRgbF(0, 1, 0, 0.5) : QColor::fromRgbF(1, 0, 0, 0.5);
    } else {
        el(MicCheck).background = Qt::transparent;
    }
    setToolTip(micCheckMode ? QStringLiteral("Long click checks/unchecks") : QString());
    update();
}

// ---- Warning overlay ----

void ChannelStrip::setChannelState(int32_t code) {
    if (code == currentState_) return;
    StripElement& warning = el(Warning);
    QString pattern;
    if (code == 2) {
        el(BatteryMeter).background = kMeterRed;
        warning.hidden = false;
        pattern = QStringLiteral("LowBatZor2");
    } else {
        el(BatteryMeter).background = kMeterGreen;
        if (code == 0) {
            // No warning: the overlay goes at once, and a fade still running goes with it, so
            // that it cannot bring back the pattern it was about to show.
            fadeOut_.stop();
            fadeIn_.stop();
            warning.hidden = true;
            warning.pattern.clear();
            warning.background = Qt::transparent;
            currentState_ = 0;
            update();
            return;
        }
        warning.hidden = false;
        if (code == 1) pattern = QStringLiteral("error_SCP2");
        if (code == 3) pattern = QStringLiteral("LowRFZor2");
    }
    currentState_ = code;
    startWarningFade(pattern);
}

void ChannelStrip::startWarningFade(const QString& pattern) {
    // The overlay's own opacity, which nothing changes: both fades run to and from it.
    constexpr double kOpacity = 1.0;
    fadeIn_.stop();
    fadeOut_.start(
        kWarningFadeTime,
        [this](double progress) {
            el(Warning).opacity = kOpacity * (1 - progress);
            update();
        },
        [this, pattern] {
            el(Warning).pattern = pattern;
            fadeIn_.start(kWarningFadeTime, [this](double progress) {
                el(Warning).opacity = kOpacity * progress;
                update();
            });
        });
}

// ---- Battery ----

void ChannelStrip::showBattery() {
    if (batLayerAdded_) return;
    attach(BatteryIcon);
    attach(BatteryMeter);
    batLayerAdded_ = true;
}

void ChannelStrip::hideBattery() {
    if (!batLayerAdded_) return;
    detach(BatteryIcon);
    detach(BatteryMeter);
    batLayerAdded_ = false;
}

QRectF ChannelStrip::getBatteryMeterFrame() {
    flipped_ = settings_.flipChannelStrip();
    // The width is not limited: the bar shows a value past 100 as it comes.
    const float width = static_cast<float>(batVal_ / 100.0 * 13);
    // Flipped, the bar (and the icon drawn around it) mirrors the standard one.
    constexpr double kHeight = 6;
    return QRectF(76, flipped_ ? 17 - kHeight : height() - 17, width, kHeight);
}

void ChannelStrip::setBatteryPower(int32_t value) {
    if (testMode_) value = 89;
    batVal_ = value;
    if (value == -2) {
        hideBattery();
        el(BatteryText).text.clear();
        timeAdded_ = false;
    } else if (value >= 0) {
        showBattery();
        if (!timeAdded_) el(BatteryText).text = QStringLiteral("%1%").arg(value);
        el(BatteryMeter).frame = getBatteryMeterFrame();
    } else if (value == -1) {
        showBattery();
        el(BatteryMeter).frame.setWidth(0);
        el(BatteryText).text = QStringLiteral("?");
        timeAdded_ = false;
    }
    update();
}

void ChannelStrip::setBatteryString(const std::string& text) {
    showBattery();
    timeAdded_ = true;
    el(BatteryText).text = testMode_ ? QStringLiteral("22:22") : QString::fromStdString(text);
    update();
}

std::string ChannelStrip::batText() const { return element(BatteryText).text.toStdString(); }

void ChannelStrip::removeWireless() {
    if (testMode_) return;
    if (batLayerAdded_) {
        hideBattery();
        el(BatteryText).text.clear();
    }
    timeAdded_ = false;
    el(Antenna).text.clear();
    el(Antenna2).text.clear();
    update();
}

// ---- Antennas ----

void ChannelStrip::setAntennaTexts(const QString& first, bool firstLit, const QString& second,
                                   bool secondLit) {
    el(Antenna).text = first;
    el(Antenna).textColor = firstLit ? QColor(Qt::white) : kDarkGrey;
    el(Antenna2).text = second;
    el(Antenna2).textColor = secondLit ? QColor(Qt::white) : kDarkGrey;
}

void ChannelStrip::setAntennaData(const std::string& antennas) {
    setTimeCodeLayers(false);
    QString a = QString::fromStdString(antennas);
    if (testMode_) {
        static const char* const kPairs[] = {"AB", "A", "B", ""};
        static const char* const kLong[] = {"ABD", "ACD", "AC", "AD", "CD"};
        const auto t = static_cast<int64_t>(RunLoop::main().now());
        a = QString::fromLatin1(kPairs[((t % 4) + 4) % 4]);
        const int64_t nine = ((t % 9) + 9) % 9;
        if (nine >= 4) a = QString::fromLatin1(kLong[nine - 4]);
    }
    // Antennas are shown only beside a battery display.
    if (!batLayerAdded_) {
        update();
        return;
    }
    const int count = characterCount(a);
    if (count < 3) {
        longAntData_ = false;
        el(Antenna).fontSize = kInfoFontSize;
        el(Antenna2).fontSize = kInfoFontSize;
        setAntennaTexts(QStringLiteral("A"), false, QStringLiteral("B"), false);
    } else {
        longAntData_ = true;
    }

    if (a.isEmpty()) {
        setAntennaTexts(QStringLiteral("A"), false, QStringLiteral("B"), false);
    } else if (a == QLatin1String("A")) {
        setAntennaTexts(QStringLiteral("A"), true, QStringLiteral("B"), false);
    } else if (a == QLatin1String("B")) {
        setAntennaTexts(QStringLiteral("A"), false, QStringLiteral("B"), true);
    } else if (a == QLatin1String("AB")) {
        setAntennaTexts(QStringLiteral("A"), true, QStringLiteral("B"), true);
    } else if (count == 1) {
        setAntennaTexts(a, true, QString(), false);
    } else {
        // Two letters are one per cell; more put the first two in the first cell.
        const QList<uint> letters = a.toUcs4();
        const qsizetype split = count == 2 ? 1 : 2;
        const auto* chars = reinterpret_cast<const char32_t*>(letters.data());
        setAntennaTexts(QString::fromUcs4(chars, split), true,
                        QString::fromUcs4(chars + split, letters.size() - split), true);
    }
    update();
}

// ---- Timecode ----

void ChannelStrip::setTimeCodeLayers(bool on) {
    for (Part part : {Timecode, TimecodeParams}) {
        if (on && !el(part).attached) attach(part);
        if (!on && el(part).attached) detach(part);
    }
}

void ChannelStrip::setTimecode(const SMPTETimecode& timecode) {
    setTimeCodeLayers(true);
    el(Timecode).textColor = toQColor(ColorHelper::vozodGreen());
    el(Timecode).text =
        QString::asprintf("%02d:%02d:%02d", timecode.hours, timecode.mins, timecode.secs);
    update();
}

void ChannelStrip::setTimecodeNotFound(int32_t seconds) {
    setTimeCodeLayers(true);
    el(Timecode).textColor = kTimecodeLost;
    el(Timecode).text = seconds == -1 ? QStringLiteral("No timecode")
                                      : QStringLiteral("Lost %1 s ago").arg(seconds);
    update();
}

std::string ChannelStrip::tcParamText() const { return element(TimecodeParams).text.toStdString(); }

void ChannelStrip::setTcParamText(const std::string& text) {
    el(TimecodeParams).text = QString::fromStdString(text);
    update();
}

// ---- Title, colour, input, picture, quality ----

void ChannelStrip::setTitle(const std::string& title) {
    const QString text = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    const QString trimmed = text.trimmed();
    const int count = characterCount(trimmed);
    double barHeight = q_;
    int size = kTitleFontSize;
    if (count > 12) {
        size = 12;
    } else if (count >= 9) {
        size = 16;
        barHeight = q_ * 0.85;
    }
    el(Title).fontSize = size;
    el(Title).frame = QRectF(0, f_, width(), barHeight);
    el(Title).text = trimmed;
    update();
}

void ChannelStrip::setChannelColor(const std::optional<Color>& color) {
    if (!color) {
        el(TextBackground).background = Qt::transparent;
        el(Title).textColor = Qt::white;
        update();
        return;
    }
    el(TextBackground).background = toQColor(*color);
    const float r = static_cast<float>(color->red);
    const float g = static_cast<float>(color->green);
    const float b = static_cast<float>(color->blue);
    const float luminance = std::sqrt(0.241f * r * r + 0.691f * g * g + 0.068f * b * b);
    el(Title).textColor = luminance < 0.3f ? QColor(Qt::white) : QColor(Qt::black);
    update();
}

void ChannelStrip::setInputChannel(int32_t input) {
    el(Input).text = QString::number(static_cast<int64_t>(input) + 1);
    el(Input).fontSize = input >= 99 ? 10 : 16;
    update();
}

void ChannelStrip::setAlternativeInputText(const std::string& text) {
    el(Input).text = QString::fromStdString(text);
    el(Input).fontSize = characterCount(el(Input).text) < 3 ? 16 : 10;
    update();
}

void ChannelStrip::setImage(const Bytes* tiff) {
    StripElement& picture = el(Picture);
    picture.picture = QImage();
    if (tiff && !tiff->empty()) {
        const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(tiff->data()),
                                                        static_cast<qsizetype>(tiff->size()));
        // Bytes that are no picture show none.
        picture.picture = QImage::fromData(data);
    }
    picture.z = -5;
    picture.opacity = settings_.showImages() / 100.0;
    update();
}

void ChannelStrip::setQuality(int32_t quality) {
    if (quality == currentQuality_) return;
    qualityLayer_.setQuality(quality);
    currentQuality_ = quality;
    update();
}

// ---- Re-layout ----

void ChannelStrip::redraw() {
    layOut();
    el(BatteryIcon).pattern =
        flipped_ ? QStringLiteral("zor_bat2_flipped") : QStringLiteral("zor_bat2");
    // The battery comes back with the strip's next value.
    hideBattery();
    el(BatteryText).text.clear();
    timeAdded_ = false;
    update();
}

}  // namespace quenbril
