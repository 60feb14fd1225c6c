#pragma once

#include <QColor>
#include <QMatrix4x4>
#include <QOpenGLExtraFunctions>
#include <QOpenGLWidget>
#include <memory>

#include "MonitorApp/ATAudio/ATAudioDisplayLink.h"
#include "MonitorApp/ATAudio/ATPlotPointBuffer.h"
#include "MonitorApp/ATAudio/HistoryInfo.h"

class QOpenGLShaderProgram;

namespace quenbril {

/// One vertex of the OpenGL plot.
struct ATAudioPlotGLPoint {
    float x = 0.0f;
    float y = 0.0f;
};

/// A waveform drawn with OpenGL 3.3 core (4x multisampling): the latest buffer of samples or a
/// rolling history of buffer RMS values, as a line strip or a filled triangle strip down to the
/// zero line, optionally mirrored, redrawn at every display refresh.
///
/// Feeding may come from an audio thread: it fills the points and hands them over through a
/// lock-free buffer. The vertex buffer (8192 points, made once) is updated in place on the GUI
/// thread only, just before a draw, so feeding never waits on OpenGL.
///
/// Make one through create(): where no OpenGL context can be made it gives a placeholder that
/// paints nothing.
class ATAudioPlotGL : public QOpenGLWidget,
                      protected QOpenGLExtraFunctions,
                      private ATAudioDisplayLinkDelegate {
  public:
    enum PlotType : int64_t { kBuffer = 0, kRolling = 1 };
    static constexpr int kDefaultRollingHistoryLength = 512;
    static constexpr int kMaximumRollingHistoryLength = 8192;
    static constexpr uint32_t kMaxPoints = 8192;

    static const char* const vertexShader;
    static const char* const fragmentShader;

    /// An OpenGL plot, or a placeholder widget (logged once) where OpenGL cannot draw.
    static std::unique_ptr<QWidget> create(QWidget* parent = nullptr);
    explicit ATAudioPlotGL(QWidget* parent = nullptr);
    ~ATAudioPlotGL() override;

    const QColor& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& color);
    const QColor& color() const { return color_; }
    void setColor(const QColor& color);
    float gain() const { return gain_; }
    void setGain(float gain) { gain_ = gain; }
    int64_t plotType() const { return plotType_; }
    void setPlotType(int64_t plotType) { plotType_ = plotType; }
    bool shouldFill() const { return shouldFill_; }
    void setShouldFill(bool shouldFill) { shouldFill_ = shouldFill; }
    bool shouldMirror() const { return shouldMirror_; }
    void setShouldMirror(bool shouldMirror) { shouldMirror_ = shouldMirror; }

    /// Any thread; drawing is left to the display link.
    void updateBuffer(const float* buffer, uint32_t bufferSize);
    /// With fill, points 2i and 2i+1 are (i, data[i]) and (i, 0); without, point i is
    /// (i, data[i]). The first and last points lie on the zero line. At most 4096 samples with
    /// fill and 8192 without are used; 0 samples clear the plot.
    void setSampleData(const float* data, int length);
    /// One zero point and an empty history.
    void clear();
    /// Draws at once (GUI thread).
    void redraw();
    void pauseDrawing();
    void resumeDrawing();

    int rollingHistoryLength() const;
    int setRollingHistoryLength(int length);

    /// Points in use and whether they hold a band, as last uploaded (GUI thread).
    uint32_t pointCount() const { return pointCount_; }
    bool interpolated() const { return interpolated_; }
    HistoryInfo* historyInfo() const { return historyInfo_.get(); }
    ATAudioDisplayLink* displayLink() const { return displayLink_.get(); }

  protected:
    virtual void setupPlot() {}
    void initializeGL() override;
    void paintGL() override;

  private:
    void displayLinkNeedsDisplay(ATAudioDisplayLink& link) override;
    void uploadNewPoints();
    void redrawWithPoints(uint32_t pointCount, bool interpolated, bool mirrored, float gain);

    QColor backgroundColor_;
    QColor color_;
    float gain_ = 1.0f;
    int64_t plotType_ = kBuffer;
    bool shouldFill_ = false;
    bool shouldMirror_ = false;

    std::unique_ptr<HistoryInfo> historyInfo_;
    /// Each published set carries its fill flag in the count's top bit.
    ATPlotPointBuffer<ATAudioPlotGLPoint> incoming_{kMaxPoints};
    uint32_t pointCount_ = kMaxPoints;
    bool interpolated_ = false;
    std::unique_ptr<ATAudioDisplayLink> displayLink_;

    std::unique_ptr<QOpenGLShaderProgram> program_;
    GLuint vertexArray_ = 0;
    GLuint vertexBuffer_ = 0;
    int matrixLocation_ = -1;
    int colorLocation_ = -1;
};

}  // namespace quenbril
