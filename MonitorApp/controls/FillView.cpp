#include "MonitorApp/controls/FillView.h"

#include <QEvent>
#include <QPainter>

namespace quenbril {

FillView::FillView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FillView::setFillsParent(bool fills) {
    QWidget* parent = parentWidget();
    if (!parent || fills == fillsParent_) return;
    fillsParent_ = fills;
    if (fills) {
        parent->installEventFilter(this);
        setGeometry(parent->rect());
    } else {
        parent->removeEventFilter(this);
    }
}

bool FillView::eventFilter(QObject* watched, QEvent* event) {
    if (fillsParent_ && watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return false;
}

void FillView::setColor(const QColor& color) {
    color_ = color;
    patternName_.clear();
    pattern_ = QPixmap();
    update();
}

void FillView::setPattern(const QString& imageName) {
    patternName_ = imageName;
    pattern_ = QPixmap(QStringLiteral(":/images/") + imageName);
    update();
}

void FillView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!patternName_.isEmpty()) {
        if (!pattern_.isNull()) painter.drawTiledPixmap(rect(), pattern_);
        return;
    }
    painter.fillRect(rect(), color_);
}

}  // namespace quenbril
