#pragma once

#include <QPainterPath>
#include <QPointF>
#include <memory>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioDisplayLink.h"
#include "MonitorApp/ATAudio/ATPlotPointBuffer.h"
#include "MonitorApp/ATAudio/HistoryInfo.h"
#include "MonitorApp/ATAudio/ui/ATAudioPlotWaveformLayer.h"
#include "MonitorApp/ATAudio/ui/ATPlot.h"

namespace quenbril {

/// A waveform drawn with QPainter: the latest buffer of samples or a rolling history of buffer
/// RMS values, as a line or a filled shape, optionally mirrored about the zero line.
///
/// Feeding (updateBuffer, updateFloat, setSampleData) may come from an audio thread: it only
/// updates the history and hands the points over through a lock-free buffer. Drawing happens on
/// the GUI thread, once per display refresh with real-time optimisation on, else after every
/// update (with a short animation of the path).
class ATAudioPlot : public ATPlot, private ATAudioDisplayLinkDelegate {
  public:
    static constexpr int kDefaultRollingHistoryLength = 512;
    static constexpr int kMaximumRollingHistoryLength = 8192;
    static constexpr uint32_t kMaxPoints = 8192;
    static constexpr uint32_t kInitialPointCount = 100;
    static constexpr bool kIsDeviceOriginFlipped = false;

    explicit ATAudioPlot(QWidget* parent = nullptr);
    ~ATAudioPlot() override;

    void setBackgroundColor(const QColor& color) override;
    void setColor(const QColor& color) override;
    void setShouldFill(bool shouldFill) override;
    bool shouldOptimizeForRealtimePlot() const { return displayLink_ != nullptr; }
    void setShouldOptimizeForRealtimePlot(bool optimize);
    bool shouldCenterYAxis() const { return shouldCenterYAxis_; }
    void setShouldCenterYAxis(bool centre) { shouldCenterYAxis_ = centre; }

    void updateBuffer(const float* buffer, uint32_t bufferSize) override;
    void updateFloat(float value);
    /// Point i = (i, gain x data[i]) with the first and last on the zero line. At most 8192
    /// samples are used; 0 samples leave no points (nothing is drawn).
    void setSampleData(const float* data, int length);
    /// Resets the history and sets the points in use to zeros; nothing when there are none.
    void clear() override;
    /// Draws the newest points (GUI thread); from other threads it asks the GUI thread to.
    void redraw();

    int rollingHistoryLength() const;
    /// Held to 1..8192; returns the length in force.
    int setRollingHistoryLength(int length);
    void resetHistoryBuffers();

    /// The path of the newest points in `rect`, or an empty path with none.
    QPainterPath createPathWithPoints(const QPointF* points, uint32_t pointCount,
                                      const QRectF& rect) const;
    /// Points in use as last drawn (GUI thread).
    uint32_t pointCount() const { return drawnCount_; }
    const QPointF* points() const { return drawn_.data(); }
    ATAudioPlotWaveformLayer& waveformLayer() { return waveformLayer_; }
    ATAudioDisplayLink* displayLink() const { return displayLink_.get(); }
    HistoryInfo* historyInfo() const { return historyInfo_.get(); }

  protected:
    /// A hook for subclasses, called while the plot is set up.
    virtual void setupPlot() {}
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void displayLinkNeedsDisplay(ATAudioDisplayLink& link) override;
    void initPlot();
    void afterFeeding();

    bool shouldCenterYAxis_ = true;
    ATAudioPlotWaveformLayer waveformLayer_;
    std::unique_ptr<ATAudioDisplayLink> displayLink_;
    std::unique_ptr<HistoryInfo> historyInfo_;
    ATPlotPointBuffer<QPointF> incoming_{kMaxPoints};
    std::vector<QPointF> drawn_;
    uint32_t drawnCount_ = 0;
};

}  // namespace quenbril
