#include "MonitorApp/ATAudio/ui/ATAudioPlot.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cmath>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

double screenRefreshRate() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->refreshRate() > 0 ? screen->refreshRate()
                                               : ATAudioDisplayLink::kDefaultRefreshRate;
}

}  // namespace

ATAudioPlot::ATAudioPlot(QWidget* parent) : ATPlot(parent) { initPlot(); }

ATAudioPlot::~ATAudioPlot() = default;

void ATAudioPlot::initPlot() {
    shouldCenterYAxis_ = true;
    setShouldOptimizeForRealtimePlot(true);
    setGain(1.0f);
    setPlotType(kBuffer);
    setShouldMirror(false);
    setShouldFill(false);
    resetHistoryBuffers();
    waveformLayer_.setLineWidth(1.0);
    waveformLayer_.setChangedCallback([this] { update(); });
    setColor(QColor::fromHsvF(0.0f, 1.0f, 1.0f, 1.0f));
    setupPlot();
    drawn_.assign(kMaxPoints, QPointF());
    std::fill_n(incoming_.back(), kInitialPointCount, QPointF());
    incoming_.publish(kInitialPointCount);
    redraw();
}

void ATAudioPlot::setBackgroundColor(const QColor& color) {
    ATPlot::setBackgroundColor(color);
    update();
}

void ATAudioPlot::setColor(const QColor& color) {
    ATPlot::setColor(color);
    waveformLayer_.setStrokeColor(color);
    if (shouldFill()) waveformLayer_.setFillColor(color);
    update();
}

void ATAudioPlot::setShouldFill(bool shouldFill) {
    ATPlot::setShouldFill(shouldFill);
    waveformLayer_.setFillColor(shouldFill ? color() : QColor());
    update();
}

void ATAudioPlot::setShouldOptimizeForRealtimePlot(bool optimize) {
    if (!optimize) {
        if (displayLink_) displayLink_->stop();
        displayLink_.reset();
        return;
    }
    if (displayLink_) return;
    displayLink_ = ATAudioDisplayLink::displayLinkWithDelegate(this, screenRefreshRate());
    displayLink_->start();
}

void ATAudioPlot::displayLinkNeedsDisplay(ATAudioDisplayLink& /*link*/) { redraw(); }

// Feeding.

void ATAudioPlot::updateBuffer(const float* buffer, uint32_t bufferSize) {
    U::appendBufferRMS(buffer, static_cast<int>(bufferSize), historyInfo_.get());
    if (plotType() == kRolling) {
        setSampleData(historyInfo_->buffer.data(), historyInfo_->bufferSize);
    } else if (plotType() == kBuffer) {
        setSampleData(buffer, static_cast<int>(bufferSize));
    }
    afterFeeding();
}

void ATAudioPlot::updateFloat(float value) {
    U::appendFloat(value, historyInfo_.get());
    if (plotType() == kRolling)
        setSampleData(historyInfo_->buffer.data(), historyInfo_->bufferSize);
    afterFeeding();
}

void ATAudioPlot::afterFeeding() {
    if (!shouldOptimizeForRealtimePlot()) redraw();
}

void ATAudioPlot::setSampleData(const float* data, int length) {
    const auto count = static_cast<uint32_t>(std::clamp(length, 0, static_cast<int>(kMaxPoints)));
    QPointF* points = incoming_.back();
    const double gain = static_cast<double>(this->gain());
    for (uint32_t i = 0; i < count; ++i) points[i] = QPointF(i, gain * data[i]);
    if (count > 0) {
        points[0].setY(0.0);
        points[count - 1].setY(0.0);
    }
    incoming_.publish(count);
}

void ATAudioPlot::clear() {
    incoming_.take();
    const uint32_t count = std::max(incoming_.frontCount(), drawnCount_);
    if (count == 0) return;
    resetHistoryBuffers();
    for (uint32_t i = 0; i < count; ++i) incoming_.back()[i] = QPointF(i, 0.0);
    incoming_.publish(count);
    redraw();
}

// History.

void ATAudioPlot::resetHistoryBuffers() {
    if (historyInfo_) U::freeHistoryInfo(std::move(historyInfo_));
    historyInfo_ =
        U::historyInfoWithDefaultLength(kDefaultRollingHistoryLength, kMaximumRollingHistoryLength);
}

int ATAudioPlot::rollingHistoryLength() const { return historyInfo_->bufferSize; }

int ATAudioPlot::setRollingHistoryLength(int length) {
    historyInfo_->bufferSize = std::clamp(length, 1, kMaximumRollingHistoryLength);
    return historyInfo_->bufferSize;
}

// Drawing.

void ATAudioPlot::redraw() {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { redraw(); }, Qt::QueuedConnection);
        return;
    }
    if (incoming_.take()) {
        drawnCount_ = incoming_.frontCount();
        std::copy_n(incoming_.front(), drawnCount_, drawn_.begin());
    }
    const QPainterPath path = createPathWithPoints(drawn_.data(), drawnCount_, QRectF(rect()));
    waveformLayer_.setPath(
        path, ATAudioPlotWaveformLayer::actionForKey("path", shouldOptimizeForRealtimePlot()));
    update();
}

QPainterPath ATAudioPlot::createPathWithPoints(const QPointF* points, uint32_t pointCount,
                                               const QRectF& rect) const {
    QPainterPath path;
    if (pointCount == 0) return path;
    const double xScale = rect.width() / pointCount;
    const double halfHeight = std::floor(rect.height() * 0.5);
    // Qt's y axis points down, so the y scale is negated to keep positive samples above the
    // zero line: the middle row when centred, else the bottom.
    QTransform transform;
    transform.translate(0, shouldCenterYAxis_ ? halfHeight + rect.y() : rect.y() + rect.height());
    double yScale = shouldCenterYAxis_ ? halfHeight : 2 * halfHeight;
    if (kIsDeviceOriginFlipped) yScale = -yScale;
    transform.scale(xScale, -yScale);

    QPainterPath line;
    line.moveTo(points[0]);
    for (uint32_t i = 1; i < pointCount; ++i) line.lineTo(points[i]);
    if (shouldFill()) line.closeSubpath();
    path.addPath(transform.map(line));
    if (shouldMirror()) {
        QTransform mirrored = transform;
        mirrored.scale(1, -1);
        path.addPath(mirrored.map(line));
    }
    return path;
}

void ATAudioPlot::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (backgroundColor().isValid()) painter.fillRect(rect(), backgroundColor());
    painter.setRenderHint(QPainter::Antialiasing);
    waveformLayer_.paint(painter);
}

void ATAudioPlot::resizeEvent(QResizeEvent* event) {
    ATPlot::resizeEvent(event);
    // The new frame takes the path at once, without an animation.
    waveformLayer_.setPath(createPathWithPoints(drawn_.data(), drawnCount_, QRectF(rect())), false);
}

}  // namespace quenbril
