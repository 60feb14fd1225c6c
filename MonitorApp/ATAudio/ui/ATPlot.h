#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

namespace quenbril {

/// The base of the waveform plots: a view holding a plot's appearance. Plot type 0 draws the
/// latest buffer of samples, 1 a rolling history of buffer RMS values.
class ATPlot : public QWidget {
  public:
    enum PlotType : int64_t { kBuffer = 0, kRolling = 1 };

    explicit ATPlot(QWidget* parent = nullptr) : QWidget(parent) {}

    const QColor& backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(const QColor& color) { backgroundColor_ = color; }
    const QColor& color() const { return color_; }
    virtual void setColor(const QColor& color) { color_ = color; }
    float gain() const { return gain_; }
    void setGain(float gain) { gain_ = gain; }
    int64_t plotType() const { return plotType_; }
    void setPlotType(int64_t plotType) { plotType_ = plotType; }
    bool shouldFill() const { return shouldFill_; }
    virtual void setShouldFill(bool shouldFill) { shouldFill_ = shouldFill; }
    bool shouldMirror() const { return shouldMirror_; }
    void setShouldMirror(bool shouldMirror) { shouldMirror_ = shouldMirror; }

    virtual void clear() {}
    /// Feeds `bufferSize` samples; any thread.
    virtual void updateBuffer(const float* /*buffer*/, uint32_t /*bufferSize*/) {}

  private:
    QColor backgroundColor_;
    QColor color_;
    float gain_ = 1.0f;
    int64_t plotType_ = kBuffer;
    bool shouldFill_ = false;
    bool shouldMirror_ = false;
};

}  // namespace quenbril
