#include "MonitorApp/views/legacy_gl/GLLevelView.h"

#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <algorithm>

#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

constexpr LevelColor kObjectColor{1.0f, 0.85f, 0.35f, 1.0f};
/// The program maps positions by half this size, so clip units pass unchanged.
constexpr std::array<uint32_t, 2> kClipViewport{2, 2};

}  // namespace

GLLevelView::GLLevelView(QWidget* parent) : QOpenGLWidget(parent) {
    setFormat(levelSurfaceFormat());
    // A transparent surface: whatever lies beneath shows where nothing is drawn.
    setAttribute(Qt::WA_AlwaysStackOnTop);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

GLLevelView::~GLLevelView() {
    animationTimer_.invalidate();
    if (context()) disconnect(context(), nullptr, this, nullptr);
    if (gl_) {
        makeCurrent();
        tearDownGL();
        doneCurrent();
    }
}

void GLLevelView::setAnimationInterval(double seconds) {
    animationInterval_ = seconds;
    if (isAnimating()) {
        stopAnimation();
        startAnimation();
    }
}

void GLLevelView::setBorder(double points, const LevelColor& color) {
    borderWidth_ = points > 0 ? points : 0;
    borderColor_ = color;
    update();
}

void GLLevelView::startAnimation() {
    animationTimer_.invalidate();
    // A non-positive or NaN interval would make the timer spin.
    const double interval = animationInterval_ > 0 ? animationInterval_ : 1.0 / 60.0;
    animationTimer_ = RunLoop::main().scheduleTimer(interval, true, [this] { drawView(); });
}

void GLLevelView::stopAnimation() {
    animationTimer_.invalidate();
    animationTimer_ = Timer();
}

void GLLevelView::initializeGL() {
    gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context());
    if (!gl_ || !gl_->initializeOpenGLFunctions()) {
        QLOG("OpenGL level view has no OpenGL 3.3 core functions; it stays blank");
        gl_ = nullptr;
        return;
    }
    // The context may go before the widget (a move to another window); the next
    // initializeGL() makes the objects again.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        tearDownGL();
        doneCurrent();
    });
    setUpGL();
}

void GLLevelView::setUpGL() {
    if (!gl_) return;
    pipeline_.create(*gl_);
    bufferCapacity_ = 0;
    buffer_.reset();
}

void GLLevelView::tearDownGL() {
    buffer_.reset();
    bufferCapacity_ = 0;
    pipeline_.destroy();
}

void GLLevelView::reinit() {
    if (!gl_) return;
    makeCurrent();
    tearDownGL();
    gl_->glClearColor(0, 0, 0, 0);
    gl_->glClear(GL_COLOR_BUFFER_BIT);
    setUpGL();
    doneCurrent();
    update();
}

QOpenGLBuffer* GLLevelView::bufferFor(size_t vertices) {
    if (!buffer_ || vertices > bufferCapacity_) {
        // Grows by doubling, so a frame that varies in size does not reallocate every time.
        bufferCapacity_ = std::max({vertices, bufferCapacity_ * 2, size_t{1024}});
        buffer_ = pipeline_.makeBuffer(bufferCapacity_);
    }
    return buffer_.get();
}

std::array<LevelVertex, 3> GLLevelView::anObject() {
    std::array<LevelVertex, 3> corners{};
    const float points[3][2] = {{0.0f, 0.6f}, {-0.2f, -0.3f}, {0.2f, -0.3f}};
    for (size_t i = 0; i < corners.size(); ++i) {
        corners[i].x = points[i][0];
        corners[i].y = points[i][1];
        corners[i].color = kObjectColor;
    }
    return corners;
}

void GLLevelView::drawAnObject() {
    if (!gl_) return;
    makeCurrent();
    const std::array<LevelVertex, 3> corners = anObject();
    if (pipeline_.use(kClipViewport)) {
        if (QOpenGLBuffer* buffer = bufferFor(corners.size())) {
            pipeline_.drawTriangles(*buffer, corners.data(), corners.size());
        }
        pipeline_.end();
    }
    doneCurrent();
}

void GLLevelView::paintGL() {
    if (!gl_) return;
    const double ratio = devicePixelRatioF();
    lines_.reset(width() * ratio, height() * ratio);
    lines_.setColor(kObjectColor);
    if (drawingEnabled_) buildFrame(lines_);
    if (borderWidth_ > 0) {
        lines_.setStipple(false);
        lines_.setLineWidth(static_cast<float>(borderWidth_ * ratio));
        lines_.setColor(borderColor_);
        lines_.outline();
    }
    ++framesDrawn_;
    if (!pipeline_.begin(clearColor(), kClipViewport)) return;
    const auto& vertices = lines_.vertices();
    if (QOpenGLBuffer* buffer = bufferFor(vertices.size())) {
        pipeline_.draw(*buffer, vertices.data(), vertices.size(), lines_.ranges());
    }
    pipeline_.end();
}

}  // namespace quenbril
