#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"

#include <QLabel>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>

#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/channelstrips/PanelRenderer.h"
#include "MonitorApp/channelstrips/ui/StripGeometry.h"

namespace quenbril {

namespace {

StripAreaWidget::LevelDisplayFactory& levelDisplayFactory() {
    static StripAreaWidget::LevelDisplayFactory factory;
    return factory;
}

int32_t panelSlot(int32_t panel) { return panel != 0 ? 1 : 0; }

}  // namespace

void StripAreaWidget::setLevelDisplayFactory(LevelDisplayFactory factory) {
    levelDisplayFactory() = std::move(factory);
}

bool StripAreaWidget::hasLevelDisplayFactory() { return static_cast<bool>(levelDisplayFactory()); }

StripAreaWidget::StripAreaWidget(QScrollArea& scrollView) : scrollView_(scrollView) {
    scrollView_.setWidget(this);
    // The scroll view fills its widget's background; the strip area stays clear.
    setAutoFillBackground(false);
}

StripAreaWidget::~StripAreaWidget() {
    // The strip views are their controllers' to delete: they leave the panels before the
    // panels (children of this widget) are deleted with it.
    for (QWidget* panel : panels_) {
        if (!panel) continue;
        for (QObject* child : panel->children()) {
            auto* view = qobject_cast<QWidget*>(child);
            if (view && dynamic_cast<ChannelStripView*>(view)) view->setParent(nullptr);
        }
    }
    levelDisplay_.reset();
}

Size StripAreaWidget::scrollViewSize() const {
    const QRect r = scrollView_.contentsRect();
    return Size{static_cast<double>(r.width()), static_cast<double>(r.height())};
}

bool StripAreaWidget::hasPanels() const { return panels_[0] != nullptr; }

void StripAreaWidget::makePanels(const Rect& frame) {
    if (hasPanels()) return;
    for (QWidget*& panel : panels_) {
        panel = new QWidget(this);
        panel->setGeometry(toQRect(frame));
    }
    scrollView_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollView_.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    resize(panels_[0]->size());
    setDocumentPanel(0);
    placeNotLiveCover();
}

void StripAreaWidget::setDocumentPanel(int32_t panel) {
    documentPanel_ = panelSlot(panel);
    if (!hasPanels()) return;
    panels_[static_cast<size_t>(1 - documentPanel_)]->hide();
    panels_[static_cast<size_t>(documentPanel_)]->show();
}

Rect StripAreaWidget::panelFrame(int32_t panel) const {
    const QWidget* view = this->panel(panel);
    if (!view) return Rect{};
    const QRect g = view->geometry();
    return Rect{static_cast<double>(g.x()), static_cast<double>(g.y()),
                static_cast<double>(g.width()), static_cast<double>(g.height())};
}

void StripAreaWidget::setPanelFrame(int32_t panel, const Rect& frame) {
    if (QWidget* view = this->panel(panel)) view->setGeometry(toQRect(frame));
}

void StripAreaWidget::setContentFrame(const Rect& frame) { resize(toQRect(frame).size()); }

void StripAreaWidget::scrollToTop() { scrollView_.verticalScrollBar()->setValue(0); }

void StripAreaWidget::addStripView(ChannelStripView& view, int32_t panel, const Rect& frame) {
    auto* widget = dynamic_cast<QWidget*>(&view);
    QWidget* target = this->panel(panel);
    // A view that is no widget has nothing to show here.
    if (!widget || !target) return;
    const bool joins = widget->parentWidget() != target;
    if (joins) widget->setParent(target);
    widget->setGeometry(toQRect(frame));
    widget->show();
    // A view that joins a panel comes on top; the level display draws over the strips.
    if (joins && levelDisplay_ && levelDisplay_->view().parentWidget() == target) {
        levelDisplay_->view().raise();
    }
}

void StripAreaWidget::removeStripView(ChannelStripView& view) {
    auto* widget = dynamic_cast<QWidget*>(&view);
    if (!widget || !widget->parentWidget()) return;
    widget->hide();
    widget->setParent(nullptr);
}

PanelRenderer* StripAreaWidget::makeLevelDisplay(const Rect& frame) {
    const auto& factory = levelDisplayFactory();
    if (levelDisplay_ || !factory || !hasPanels()) {
        return levelDisplay_ ? &levelDisplay_->renderer() : nullptr;
    }
    levelDisplay_ = factory();
    if (!levelDisplay_) return nullptr;
    QWidget& view = levelDisplay_->view();
    // It lies over the strips but lets their clicks through; keys reach it through the focus.
    view.setAttribute(Qt::WA_TransparentForMouseEvents);
    view.setParent(panels_[0]);
    view.setGeometry(toQRect(frame));
    view.show();
    view.raise();
    levelDisplay_->setLinesShown(live_);
    levelDisplay_->start(kLevelFramesPerSecond);
    return &levelDisplay_->renderer();
}

void StripAreaWidget::moveLevelDisplay(int32_t panel) {
    QWidget* target = this->panel(panel);
    if (!levelDisplay_ || !target) return;
    QWidget& view = levelDisplay_->view();
    const QRect geometry = view.geometry();
    view.setParent(target);
    view.setGeometry(geometry);
    view.show();
    view.raise();
}

void StripAreaWidget::setLevelDisplayFrame(const Rect& frame) {
    if (levelDisplay_) levelDisplay_->view().setGeometry(toQRect(frame));
}

Size StripAreaWidget::levelDrawableSize() const {
    if (!levelDisplay_) return Size{};
    const QWidget& view = levelDisplay_->view();
    const double ratio = view.devicePixelRatioF();
    return Size{view.width() * ratio, view.height() * ratio};
}

void StripAreaWidget::focusLevelDisplay() {
    if (levelDisplay_) levelDisplay_->view().setFocus(Qt::OtherFocusReason);
}

void StripAreaWidget::setLive(bool live) {
    live_ = live;
    if (levelDisplay_) levelDisplay_->setLinesShown(live);
    if (!live && !notLiveCover_) {
        auto* cover = new QLabel("NOT CONNECTED TO SERVER", this);
        cover->setObjectName("notLiveCover");
        cover->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        cover->setContentsMargins(0, 40, 0, 0);
        QFont font = cover->font();
        font.setPointSize(24);
        font.setBold(true);
        cover->setFont(font);
        // Dims the strips; their clicks still reach them (and send nothing while the link is
        // down).
        cover->setStyleSheet("color: rgb(255, 40, 40); background: rgba(0, 0, 0, 150)");
        cover->setAttribute(Qt::WA_TransparentForMouseEvents);
        notLiveCover_ = cover;
    }
    placeNotLiveCover();
}

void StripAreaWidget::placeNotLiveCover() {
    if (!notLiveCover_) return;
    notLiveCover_->setVisible(!live_);
    if (live_) return;
    notLiveCover_->setGeometry(rect());
    notLiveCover_->raise();
}

void StripAreaWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeNotLiveCover();
}

void StripAreaWidget::scrollStripToVisible(const ChannelStripView& view) {
    auto* widget = dynamic_cast<const QWidget*>(&view);
    if (!widget || !hasPanels() || widget->parentWidget() != panels_[documentPanel_]) return;
    // The scroll view moves the cell into sight, but never its widget: the cast only meets the
    // scroll view's signature.
    scrollView_.ensureWidgetVisible(const_cast<QWidget*>(widget), 0, 0);
}

}  // namespace quenbril
