#pragma once

#include <QOpenGLBuffer>
#include <array>
#include <memory>
#include <vector>

#include "MonitorApp/views/ClickableMTKViewDelegate.h"
#include "MonitorApp/views/LevelPipeline.h"

namespace quenbril {

/// Draws one buffer of float samples as a blue waveform across a level view's width, full
/// scale (+-1) reaching 90 % of the half-height, on a clear background. It holds a fixed number
/// of samples, set when it is made.
class GPURendererWave : public ClickableMTKViewDelegate {
  public:
    /// Styles the view (transparent) and sizes the buffers for `numTriangles` samples.
    GPURendererWave(ClickableMTKView& view, int32_t numTriangles);
    ~GPURendererWave() override;

    /// Takes `count` samples and lays out their vertices. A count other than the number held
    /// is logged ("Incorrect amount of samples"); what fits is taken and the rest is zero.
    void drawBuffer(const float* samples, int32_t count);
    /// Lays out the last samples again (after a change of size).
    void drawAgain();
    /// Lays out a flat line.
    void drawEmpty();

    void setUpGL(QOpenGLFunctions_3_3_Core& gl) override;
    void tearDownGL() override;
    void drawableSizeWillChange(const Size& size) override;
    void draw(ClickableMTKView& view) override;

    int32_t numTriangles() const { return static_cast<int32_t>(lastBuffer_.size()); }
    const std::vector<float>& lastBuffer() const { return lastBuffer_; }
    const std::vector<LevelVertex>& vertices() const { return vertices_; }
    const std::array<uint32_t, 2>& viewportSize() const { return viewportSize_; }

    /// Copies `count` samples into `held` (whose size stays): what fits, zeros after it. False
    /// when the count is not the size held.
    static bool takeSamples(const float* samples, int32_t count, std::vector<float>& held);
    /// Vertex i at (-W / 2 + i * W / n, 0.45 * H * sample i) in `color`, for a drawable of W x H
    /// pixels; with no samples, all at height 0.
    static void layOut(const std::vector<float>* samples, const std::array<uint32_t, 2>& drawable,
                       const LevelColor& color, std::vector<LevelVertex>& vertices);

  private:
    std::vector<float> lastBuffer_;
    std::vector<LevelVertex> vertices_;
    LevelColor audioColor_{0, 0, 1, 1};
    std::array<uint32_t, 2> viewportSize_{};
    LevelDrawRanges ranges_;
    LevelPipeline pipeline_;
    std::unique_ptr<QOpenGLBuffer> buffer_;
};

}  // namespace quenbril
