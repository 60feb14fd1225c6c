#pragma once

#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <array>
#include <cstdint>
#include <memory>

#include "MonitorApp/views/LevelVertex.h"

class QOpenGLFunctions_3_3_Core;

namespace quenbril {

/// The level displays' program ("vertexShader" places a centred pixel position in clip space
/// by the viewport size, "fragmentShader" passes the colour on), its vertex array and the
/// vertex buffers, which are allocated once and rewritten every frame. Used with the view's
/// context current.
class LevelPipeline {
  public:
    LevelPipeline();
    ~LevelPipeline();
    LevelPipeline(const LevelPipeline&) = delete;
    LevelPipeline& operator=(const LevelPipeline&) = delete;

    /// Compiles and links the program and makes the vertex array; a failure is logged and
    /// leaves the pipeline invalid (its draws are skipped).
    bool create(QOpenGLFunctions_3_3_Core& gl);
    bool isValid() const { return valid_; }
    /// Releases the GL objects (the buffers made by makeBuffer() are the caller's).
    void destroy();

    /// A vertex buffer of `vertices` records, allocated once.
    std::unique_ptr<QOpenGLBuffer> makeBuffer(size_t vertices);

    /// Clears to `color` and, when valid, binds the program with the viewport size.
    bool begin(const LevelColor& clear, const std::array<uint32_t, 2>& viewport);
    /// Binds the program with the viewport size without clearing, to draw over a frame.
    bool use(const std::array<uint32_t, 2>& viewport);
    /// Writes `count` vertices into the buffer and draws its line strips with one call.
    void draw(QOpenGLBuffer& buffer, const LevelVertex* vertices, size_t count,
              const LevelDrawRanges& ranges);
    /// Writes `count` vertices into the buffer and draws them as filled triangles.
    void drawTriangles(QOpenGLBuffer& buffer, const LevelVertex* vertices, size_t count);
    void end();

    const QOpenGLShaderProgram* program() const { return program_.get(); }

  private:
    /// Writes the vertices and points the program's inputs at them; false when nothing can be
    /// drawn.
    bool bindVertices(QOpenGLBuffer& buffer, const LevelVertex* vertices, size_t count);

    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    QOpenGLVertexArrayObject vertexArray_;
    int viewportLocation_ = -1;
    bool valid_ = false;
};

}  // namespace quenbril
