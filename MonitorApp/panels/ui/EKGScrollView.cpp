#include "MonitorApp/panels/ui/EKGScrollView.h"

#include <QPalette>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURendererSingle.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr int kFramesPerSecond = 10;

}  // namespace

EKGScrollView::EKGScrollView(const PanelServices& services, QWidget* parent)
    : QWidget(parent),
      input_({services.settings, services.strips, services.playback, services.center,
              services.colors}) {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);

    if (levelDisplaysCanDraw()) {
        mtkView_ = new ClickableMTKView(input_.services(), this);
        renderer_ = std::make_unique<GPURendererSingle>(*mtkView_, services.engine,
                                                        services.settings, services.colors);
        mtkView_->setDelegate(renderer_.get());
        mtkView_->setZoomWindow(true);
        renderer_->drawableSizeWillChange(mtkView_->drawableSize());
        mtkView_->setPreferredFramesPerSecond(kFramesPerSecond);
        mtkView_->setPaused(false);
        display_ = mtkView_;
    } else {
        display_ = new QWidget(this);
        display_->setAutoFillBackground(true);
        display_->setPalette(palette);
    }
    // The scroller never hides.
    scrollBar_ = new QScrollBar(Qt::Horizontal, this);
    scrollBar_->setRange(0, 0);
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this] { scrolled(); });
    layOut();
}

EKGScrollView::~EKGScrollView() {
    // The view lets go of its renderer before the renderer goes.
    if (mtkView_) mtkView_->setDelegate(nullptr);
    delete mtkView_;
}

int EKGScrollView::clipWidth() const { return display_->width(); }

void EKGScrollView::updateScrollContent(float zoom) {
    zoomValue_ = zoom;
    const float width = std::min(static_cast<float>(clipWidth()) * zoom, kMaxDocumentWidth);
    documentWidth_ = width;
    QLOG("Wid %f", static_cast<double>(width));
    const int scrollable = std::max(0, static_cast<int>(std::ceil(width)) - clipWidth());
    const QSignalBlocker blocker(scrollBar_);
    scrollBar_->setRange(0, scrollable);
    scrollBar_->setPageStep(std::max(1, clipWidth()));
    scrolled();
}

void EKGScrollView::goToEnd() { scrollTo(documentWidth_ - clipWidth()); }

void EKGScrollView::scrollTo(double x) {
    const int value = std::clamp(static_cast<int>(std::lround(x)), 0, scrollBar_->maximum());
    if (value == scrollBar_->value()) {
        scrolled();
        return;
    }
    scrollBar_->setValue(value);
}

QRectF EKGScrollView::visibleRect() const {
    return QRectF(scrollBar_->value(), 0, clipWidth(), display_->height());
}

float EKGScrollView::fractionAt(double x) const {
    if (documentWidth_ <= 0) return 1.0f;
    return static_cast<float>((scrollBar_->value() + x) / documentWidth_);
}

bool EKGScrollView::lastColumnVisible() const {
    const QRectF lastColumn(documentWidth_ - 1, 0, 1, 1);
    return visibleRect().intersects(lastColumn);
}

void EKGScrollView::setChanIndex(int32_t channel) {
    chanIndex_ = channel;
    if (renderer_) renderer_->setChanIndex(channel);
}

void EKGScrollView::setQuadversity(bool quadversity) {
    quadversity_ = quadversity;
    if (renderer_) renderer_->setQuadversity(quadversity);
}

void EKGScrollView::setSingleLine(bool singleLine) {
    singleLine_ = singleLine;
    if (renderer_) renderer_->setSingleLine(singleLine);
}

void EKGScrollView::setAudioHistoryAvailable(bool available) {
    audioHistoryAvailable_ = available;
    if (mtkView_) mtkView_->setAudioHistoryAvailable(available);
}

void EKGScrollView::stopPlayback() {
    if (mtkView_) {
        mtkView_->stopPlayback();
    } else {
        input_.stopReplay(nullptr);
    }
}

void EKGScrollView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
    // The document stays the visible width times the zoom.
    updateScrollContent(zoomValue_);
}

void EKGScrollView::layOut() {
    const int barHeight = scrollBar_->sizeHint().height();
    display_->setGeometry(0, 0, width(), std::max(0, height() - barHeight));
    scrollBar_->setGeometry(0, std::max(0, height() - barHeight), width(), barHeight);
    scrolled();
}

void EKGScrollView::scrolled() {
    if (mtkView_) mtkView_->setDocumentSpan(scrollBar_->value(), documentWidth_);
    boundsDidChange();
    if (boundsChanged_) boundsChanged_();
}

void EKGScrollView::boundsDidChange() const {
    log(LogLevel::Debug, "History bounds changed: x %d of %f", scrollBar_->value(), documentWidth_);
}

}  // namespace quenbril
