#include "MonitorApp/ATAudio/ui/ATAudioPlotGL.h"

#include <QGuiApplication>
#include <QOpenGLShaderProgram>
#include <QScreen>
#include <QSurfaceFormat>
#include <algorithm>
#include <numbers>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "foundation/Log.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

constexpr uint32_t kFilledFlag = 0x8000'0000u;

double screenRefreshRate() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->refreshRate() > 0 ? screen->refreshRate()
                                               : ATAudioDisplayLink::kDefaultRefreshRate;
}

}  // namespace

const char* const ATAudioPlotGL::vertexShader = R"(#version 330 core
layout(location = 0) in vec2 position;
uniform mat4 modelViewProjection;
void main() {
    gl_Position = modelViewProjection * vec4(position, 0.0, 1.0);
}
)";

const char* const ATAudioPlotGL::fragmentShader = R"(#version 330 core
uniform vec4 color;
out vec4 fragmentColor;
void main() {
    fragmentColor = color;
}
)";

std::unique_ptr<QWidget> ATAudioPlotGL::create(QWidget* parent) {
    if (!levelDisplaysCanDraw()) {
        static const bool logged = [] {
            QLOG("OpenGL waveform plots are left blank: no OpenGL context can be made here");
            return true;
        }();
        (void)logged;
        return std::make_unique<QWidget>(parent);
    }
    return std::make_unique<ATAudioPlotGL>(parent);
}

ATAudioPlotGL::ATAudioPlotGL(QWidget* parent) : QOpenGLWidget(parent) {
    QSurfaceFormat format = levelSurfaceFormat();
    format.setSamples(4);
    format.setDepthBufferSize(24);
    format.setSwapInterval(1);
    setFormat(format);
    historyInfo_ =
        U::historyInfoWithDefaultLength(kDefaultRollingHistoryLength, kMaximumRollingHistoryLength);
    gain_ = 1.0f;
    backgroundColor_ = QColor::fromRgbF(0.569f, 0.82f, 0.478f, 1.0f);
    color_ = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f);
    setupPlot();
    displayLink_ = ATAudioDisplayLink::displayLinkWithDelegate(this, screenRefreshRate());
    displayLink_->start();
}

ATAudioPlotGL::~ATAudioPlotGL() {
    displayLink_.reset();
    if (vertexArray_ && context()) {
        makeCurrent();
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteBuffers(1, &vertexBuffer_);
        program_.reset();
        doneCurrent();
    }
}

void ATAudioPlotGL::setBackgroundColor(const QColor& color) {
    backgroundColor_ = color;
    update();
}

void ATAudioPlotGL::setColor(const QColor& color) {
    color_ = color;
    update();
}

// Feeding.

void ATAudioPlotGL::updateBuffer(const float* buffer, uint32_t bufferSize) {
    U::appendBufferRMS(buffer, static_cast<int>(bufferSize), historyInfo_.get());
    if (plotType_ == kRolling) {
        setSampleData(historyInfo_->buffer.data(), historyInfo_->bufferSize);
    } else if (plotType_ == kBuffer) {
        setSampleData(buffer, static_cast<int>(bufferSize));
    }
}

void ATAudioPlotGL::setSampleData(const float* data, int length) {
    const bool fill = shouldFill_;
    const int most = static_cast<int>(fill ? kMaxPoints / 2 : kMaxPoints);
    length = std::min(length, most);
    if (length <= 0) {
        // Nothing to show is shown as one point on the zero line.
        static const float zero = 0.0f;
        data = &zero;
        length = 1;
    }
    ATAudioPlotGLPoint* points = incoming_.back();
    uint32_t count = 0;
    for (int i = 0; i < length; ++i) {
        const auto x = static_cast<float>(i);
        points[count++] = {x, data[i]};
        if (fill) points[count++] = {x, 0.0f};
    }
    points[0].y = 0.0f;
    points[count - 1].y = 0.0f;
    incoming_.publish(count | (fill ? kFilledFlag : 0));
}

void ATAudioPlotGL::clear() {
    const float zero = 0.0f;
    setSampleData(&zero, 1);
    U::clearHistoryInfo(historyInfo_.get());
    redraw();
}

int ATAudioPlotGL::rollingHistoryLength() const { return historyInfo_->bufferSize; }

int ATAudioPlotGL::setRollingHistoryLength(int length) {
    historyInfo_->bufferSize = std::clamp(length, 1, kMaximumRollingHistoryLength);
    return historyInfo_->bufferSize;
}

// Drawing.

void ATAudioPlotGL::pauseDrawing() { displayLink_->stop(); }

void ATAudioPlotGL::resumeDrawing() { displayLink_->start(); }

void ATAudioPlotGL::displayLinkNeedsDisplay(ATAudioDisplayLink& /*link*/) { redraw(); }

void ATAudioPlotGL::redraw() {
    if (!isVisible()) return;
    update();
}

void ATAudioPlotGL::initializeGL() {
    initializeOpenGLFunctions();
    program_ = std::make_unique<QOpenGLShaderProgram>();
    program_->addShaderFromSourceCode(QOpenGLShader::Vertex, vertexShader);
    program_->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShader);
    if (!program_->link()) QLOG("Waveform plot: %s", program_->log().toStdString().c_str());
    matrixLocation_ = program_->uniformLocation("modelViewProjection");
    colorLocation_ = program_->uniformLocation("color");

    // One vertex buffer for every point there can be, updated in place from then on.
    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    glGenBuffers(1, &vertexBuffer_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    const std::vector<ATAudioPlotGLPoint> zeros(kMaxPoints);
    glBufferData(GL_ARRAY_BUFFER, sizeof(ATAudioPlotGLPoint) * kMaxPoints, zeros.data(),
                 GL_STREAM_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(ATAudioPlotGLPoint), nullptr);
    glBindVertexArray(0);
}

void ATAudioPlotGL::uploadNewPoints() {
    if (!incoming_.take()) return;
    const uint32_t published = incoming_.frontCount();
    pointCount_ = published & ~kFilledFlag;
    interpolated_ = (published & kFilledFlag) != 0;
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferSubData(GL_ARRAY_BUFFER, 0,
                    static_cast<GLsizeiptr>(sizeof(ATAudioPlotGLPoint) * pointCount_),
                    incoming_.front());
}

void ATAudioPlotGL::paintGL() {
    uploadNewPoints();
    redrawWithPoints(pointCount_, interpolated_, shouldMirror_, gain_);
}

void ATAudioPlotGL::redrawWithPoints(uint32_t pointCount, bool interpolated, bool mirrored,
                                     float gain) {
    const QColor& background = backgroundColor_.isValid() ? backgroundColor_ : QColor(0, 0, 0, 0);
    glClearColor(background.redF(), background.greenF(), background.blueF(), background.alphaF());
    glClear(GL_COLOR_BUFFER_BIT);
    if (pointCount == 0 || !program_) return;

    // The samples span clip space from -1 to 1; gain scales y.
    const float f = interpolated ? 2.0f : 1.0f;
    const float xScale = 2.0f / (static_cast<float>(pointCount) / f);
    QMatrix4x4 modelView;
    modelView.translate(-1.0f, 0.0f, 0.0f);
    modelView.scale(xScale, gain, 1.0f);

    const QColor color = color_.isValid() ? color_ : QColor(0, 0, 0, 0);
    program_->bind();
    program_->setUniformValue(colorLocation_, color);
    glBindVertexArray(vertexArray_);
    const GLenum mode = interpolated ? GL_TRIANGLE_STRIP : GL_LINE_STRIP;
    program_->setUniformValue(matrixLocation_, modelView);
    glDrawArrays(mode, 0, static_cast<GLsizei>(pointCount));
    if (mirrored) {
        modelView.rotate(180.0f, 1.0f, 0.0f, 0.0f);
        program_->setUniformValue(matrixLocation_, modelView);
        glDrawArrays(mode, 0, static_cast<GLsizei>(pointCount));
    }
    glBindVertexArray(0);
    program_->release();
}

}  // namespace quenbril
