#include "MonitorApp/views/ClickableMTKView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>

#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKViewDelegate.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

constexpr LevelColor kReplayingBackground{0.15f, 0, 0, 1};
constexpr LevelColor kLiveBackground{0, 0, 0, 1};

}  // namespace

ClickableMTKView::ClickableMTKView(const LevelDisplayServices& services, QWidget* parent)
    : QOpenGLWidget(parent), input_(services) {
    setFormat(levelSurfaceFormat());
    setFocusPolicy(Qt::StrongFocus);
    // The lines go (or come back) with the lock at once, not at the next frame.
    lockObserver_ = services.center.addObserver(LockNotification::kLocked,
                                                [this](const Notification&) { update(); });
}

ClickableMTKView::~ClickableMTKView() {
    frameTimer_.invalidate();
    // The base class destroys the context after this object is gone.
    if (context()) disconnect(context(), nullptr, this, nullptr);
    if (glReady_) {
        makeCurrent();
        tearDownGL();
        doneCurrent();
    }
}

void ClickableMTKView::setDelegate(ClickableMTKViewDelegate* delegate) {
    if (delegate_ == delegate) return;
    if (glReady_ && delegate_) {
        makeCurrent();
        delegate_->tearDownGL();
        doneCurrent();
    }
    delegate_ = delegate;
    if (glReady_ && delegate_) {
        makeCurrent();
        delegate_->setUpGL(*gl_);
        const Size size = drawableSize();
        delegate_->drawableSizeWillChange(size);
        doneCurrent();
    }
}

void ClickableMTKView::setPreferredFramesPerSecond(int framesPerSecond) {
    framesPerSecond_ = framesPerSecond;
    restartFrameTimer();
}

void ClickableMTKView::setPaused(bool paused) {
    paused_ = paused;
    restartFrameTimer();
}

void ClickableMTKView::restartFrameTimer() {
    frameTimer_.invalidate();
    if (paused_ || framesPerSecond_ <= 0) return;
    frameTimer_ = RunLoop::main().scheduleTimer(1.0 / framesPerSecond_, true, [this] { update(); });
}

void ClickableMTKView::makeTransparent() {
    setAttribute(Qt::WA_AlwaysStackOnTop);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void ClickableMTKView::setDocumentSpan(double offset, double documentWidth) {
    documentOffset_ = documentWidth > 0 ? offset : 0;
    documentWidth_ = documentWidth;
    update();
}

float ClickableMTKView::documentFraction(double x) const {
    const double document = documentWidth();
    if (document <= 0) return 1.0f;
    return static_cast<float>((documentOffset_ + x) / document);
}

Size ClickableMTKView::drawableSize() const {
    const double ratio = devicePixelRatioF();
    return Size{width() * ratio, height() * ratio};
}

void ClickableMTKView::stopPlayback() {
    input_.stopReplay(delegate_);
    replayBackground_ = kLiveBackground;
}

void ClickableMTKView::setLinesShown(bool shown) {
    if (linesShown_ == shown) return;
    linesShown_ = shown;
    update();
}

bool ClickableMTKView::drawsLines() const {
    return linesShown_ && !input_.services().settings.isLocked();
}

void ClickableMTKView::initializeGL() {
    gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context());
    if (!gl_ || !gl_->initializeOpenGLFunctions()) {
        QLOG("Level display has no OpenGL 3.3 core functions; it stays blank");
        gl_ = nullptr;
        return;
    }
    glReady_ = true;
    // The context may go away before the widget (a move to another window); the renderer's
    // objects go with it and are made again by the next initializeGL().
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        tearDownGL();
        doneCurrent();
    });
    if (delegate_) delegate_->setUpGL(*gl_);
}

void ClickableMTKView::tearDownGL() {
    if (!glReady_) return;
    if (delegate_) delegate_->tearDownGL();
    glReady_ = false;
    gl_ = nullptr;
}

void ClickableMTKView::resizeGL(int, int) {
    if (delegate_) delegate_->drawableSizeWillChange(drawableSize());
}

void ClickableMTKView::paintGL() {
    if (!glReady_ || !delegate_ || !drawsLines()) {
        if (gl_) {
            gl_->glClearColor(0, 0, 0, 0);
            gl_->glClear(GL_COLOR_BUFFER_BIT);
        }
        return;
    }
    delegate_->draw(*this);
    ++framesDrawn_;
}

void ClickableMTKView::keyPressEvent(QKeyEvent* event) {
    if (input_.keyDown(event->key(), event->text())) {
        event->accept();
        return;
    }
    QOpenGLWidget::keyPressEvent(event);
}

void ClickableMTKView::mousePressEvent(QMouseEvent* event) {
    if (zoomWindow_ && delegate_ && audioHistoryAvailable_ && event->button() == Qt::LeftButton &&
        width() > 0) {
        if (input_.mayStartReplay()) {
            input_.startReplay(documentFraction(event->position().x()), *delegate_);
            replayBackground_ = kReplayingBackground;
        }
        event->accept();
        return;
    }
    QOpenGLWidget::mousePressEvent(event);
}

void ClickableMTKView::mouseMoveEvent(QMouseEvent* event) {
    // A drag in the zoom window does nothing.
    if (zoomWindow_) {
        event->accept();
        return;
    }
    QOpenGLWidget::mouseMoveEvent(event);
}

void ClickableMTKView::mouseReleaseEvent(QMouseEvent* event) {
    if (zoomWindow_) {
        event->accept();
        return;
    }
    delete divider_.data();
    delete sourceBox_.data();
    divider_ = nullptr;
    sourceBox_ = nullptr;
    QOpenGLWidget::mouseReleaseEvent(event);
}

QWidget* ClickableMTKView::adoptOverlay(QWidget* overlay) {
    if (overlay) {
        overlay->setParent(this);
        overlay->show();
        overlay->raise();
    }
    return overlay;
}

}  // namespace quenbril
