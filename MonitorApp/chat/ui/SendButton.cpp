#include "MonitorApp/chat/ui/SendButton.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "MonitorApp/chat/ui/SendButtonDelegate.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"

namespace quenbril {

namespace {

constexpr int kTitleHeight = 18;

}  // namespace

SendButton::SendButton(QWidget* parent)
    : QWidget(parent),
      upButton_(QStringLiteral("Send_up.png")),
      downButton_(QStringLiteral("Send_down.png")) {
    title_ = new QLabel(QStringLiteral("Send"), this);
    // The title is part of the face: presses on it belong to the button.
    title_->setAttribute(Qt::WA_TransparentForMouseEvents);
    title_->setTextFormat(Qt::PlainText);
    title_->setAlignment(Qt::AlignCenter);
    title_->setFont(QFont(QStringLiteral("Nexa Light"), 13));
    QPalette palette = title_->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    title_->setPalette(palette);
}

void SendButton::resizeEvent(QResizeEvent*) {
    title_->setGeometry(0, (height() - kTitleHeight) / 2, width(), kTitleHeight);
}

void SendButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ControlImage& face = buttonDown_ ? downButton_ : upButton_;
    if (face.draw(painter, rect())) return;
    // Without the images: a flat face of the same meaning.
    painter.fillRect(rect(), toQColor(buttonDown_ ? ColorHelper::vozodLightGray()
                                                  : ColorHelper::vozodDarkGray()));
}

void SendButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    buttonDown_ = true;
    update();
}

void SendButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !buttonDown_) {
        event->ignore();
        return;
    }
    buttonDown_ = false;
    update();
    // Last: the delegate may take the button away.
    if (delegate_) delegate_->sendClicked(*this);
}

}  // namespace quenbril
