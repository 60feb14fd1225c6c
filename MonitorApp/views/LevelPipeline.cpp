#include "MonitorApp/views/LevelPipeline.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLShader>

#include "foundation/Log.h"

namespace quenbril {

namespace {

// Positions are pixels from the drawable's centre; x / (width / 2), y / (height / 2) is clip
// space.
constexpr const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec2 position;
layout(location = 1) in vec4 color;
uniform uvec2 viewportSize;
out vec4 vertexColor;
void main() {
    vec2 halfSize = vec2(viewportSize) / 2.0;
    gl_Position = vec4(position / halfSize, 0.0, 1.0);
    vertexColor = color;
}
)";

constexpr const char* kFragmentShader = R"(#version 330 core
in vec4 vertexColor;
out vec4 fragmentColor;
void main() {
    fragmentColor = vertexColor;
}
)";

constexpr GLuint kPositionAttribute = 0;
constexpr GLuint kColorAttribute = 1;

}  // namespace

LevelPipeline::LevelPipeline() = default;
LevelPipeline::~LevelPipeline() = default;

bool LevelPipeline::create(QOpenGLFunctions_3_3_Core& gl) {
    gl_ = &gl;
    program_ = std::make_unique<QOpenGLShaderProgram>();
    auto* vertexShader = new QOpenGLShader(QOpenGLShader::Vertex, program_.get());
    vertexShader->setObjectName(QStringLiteral("vertexShader"));
    auto* fragmentShader = new QOpenGLShader(QOpenGLShader::Fragment, program_.get());
    fragmentShader->setObjectName(QStringLiteral("fragmentShader"));
    const bool built = vertexShader->compileSourceCode(kVertexShader) &&
                       fragmentShader->compileSourceCode(kFragmentShader) &&
                       program_->addShader(vertexShader) && program_->addShader(fragmentShader) &&
                       program_->link();
    if (!built) {
        const QString error = vertexShader->log() + fragmentShader->log() + program_->log();
        QLOG("Failed to created pipeline state, error %s", error.toStdString().c_str());
        valid_ = false;
        return false;
    }
    viewportLocation_ = program_->uniformLocation("viewportSize");
    valid_ = vertexArray_.create();
    if (!valid_) QLOG("Failed to created pipeline state, error %s", "no vertex array");
    return valid_;
}

void LevelPipeline::destroy() {
    vertexArray_.destroy();
    program_.reset();
    valid_ = false;
    gl_ = nullptr;
}

std::unique_ptr<QOpenGLBuffer> LevelPipeline::makeBuffer(size_t vertices) {
    auto buffer = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    buffer->setUsagePattern(QOpenGLBuffer::StreamDraw);
    if (buffer->create() && buffer->bind()) {
        // At least one record, so that a buffer of no layers still exists.
        const size_t records = vertices > 0 ? vertices : 1;
        buffer->allocate(static_cast<int>(records * sizeof(LevelVertex)));
        buffer->release();
    }
    return buffer;
}

bool LevelPipeline::begin(const LevelColor& clear, const std::array<uint32_t, 2>& viewport) {
    if (!gl_) return false;
    gl_->glClearColor(clear.red, clear.green, clear.blue, clear.alpha);
    gl_->glClear(GL_COLOR_BUFFER_BIT);
    return use(viewport);
}

bool LevelPipeline::use(const std::array<uint32_t, 2>& viewport) {
    if (!gl_ || !valid_) return false;
    // Blending keeps a transparent vertex invisible instead of punching a hole into the
    // frame; the drawn colours are opaque, so they land as they are.
    gl_->glEnable(GL_BLEND);
    gl_->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    program_->bind();
    gl_->glUniform2ui(viewportLocation_, viewport[0], viewport[1]);
    vertexArray_.bind();
    return true;
}

bool LevelPipeline::bindVertices(QOpenGLBuffer& buffer, const LevelVertex* vertices, size_t count) {
    if (!valid_ || !buffer.isCreated()) return false;
    buffer.bind();
    if (count > 0) buffer.write(0, vertices, static_cast<int>(count * sizeof(LevelVertex)));
    gl_->glEnableVertexAttribArray(kPositionAttribute);
    gl_->glVertexAttribPointer(kPositionAttribute, 2, GL_FLOAT, GL_FALSE, sizeof(LevelVertex),
                               reinterpret_cast<const void*>(offsetof(LevelVertex, x)));
    gl_->glEnableVertexAttribArray(kColorAttribute);
    gl_->glVertexAttribPointer(kColorAttribute, 4, GL_FLOAT, GL_FALSE, sizeof(LevelVertex),
                               reinterpret_cast<const void*>(offsetof(LevelVertex, color)));
    return true;
}

void LevelPipeline::draw(QOpenGLBuffer& buffer, const LevelVertex* vertices, size_t count,
                         const LevelDrawRanges& ranges) {
    if (ranges.empty() || !bindVertices(buffer, vertices, count)) return;
    gl_->glMultiDrawArrays(GL_LINE_STRIP, ranges.firsts.data(), ranges.counts.data(),
                           static_cast<GLsizei>(ranges.firsts.size()));
    buffer.release();
}

void LevelPipeline::drawTriangles(QOpenGLBuffer& buffer, const LevelVertex* vertices,
                                  size_t count) {
    if (count < 3 || !bindVertices(buffer, vertices, count)) return;
    gl_->glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(count));
    buffer.release();
}

void LevelPipeline::end() {
    if (!valid_) return;
    vertexArray_.release();
    program_->release();
    gl_->glDisable(GL_BLEND);
}

}  // namespace quenbril
