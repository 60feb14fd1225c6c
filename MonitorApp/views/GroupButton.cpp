#include "MonitorApp/views/GroupButton.h"

#include <QLabel>
#include <QPainter>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/channelstrips/ui/StripGeometry.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/QtColor.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

namespace {

constexpr double kCornerRadius = 2.0;
constexpr double kBorderWidth = 2.0;
constexpr double kBarInset = 3.0;
constexpr double kBarHeight = 5.0;
// A title longer than this sits higher on a narrow button.
constexpr int kShortTitle = 4;

// A frame in a parent of height `height` given bottom-left, as a widget geometry.
QRect flipped(const Rect& frame, double height) {
    return toQRect(Rect{frame.x, height - frame.y - frame.height, frame.width, frame.height});
}

}  // namespace

/// The group's colour bar, drawn over the button's image and title.
class GroupButton::ColorBar : public QWidget {
  public:
    explicit ColorBar(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setColor(const QColor& color) {
        color_ = color;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        if (!color_.isValid()) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    }

  private:
    QColor color_;
};

GroupButton::GroupButton(QWidget& parent, const std::string& text,
                         const std::optional<Color>& color, const Rect& frame, int32_t groupNumber,
                         NotificationCenter& center)
    : QWidget(&parent), center_(center), groupID_(groupNumber) {
    setGeometry(toQRect(frame));
    const double w = frame.width;
    const double h = frame.height;
    myButton_ = new QBButton(this, QBButton::Style::Plain);
    myButton_->setGeometry(toQRect(Rect{3, 0, w - 6, h}));
    myButton_->setCornerRadius(kCornerRadius);
    myButton_->setTitle(text);
    myButton_->setDelegate(this);
    // A button made in code has its title 6 points up, two thirds of the face high.
    titleFrame_ = Rect{0, 6, w - 6, h * 2 / 3};
    placeTitle();
    colorLayer_ = new ColorBar(myButton_);
    colorLayer_->raise();
    barFrame_ = Rect{3, 3, w - 12, kBarHeight};
    placeBar();
    setColor(color);
    setState(0);
}

GroupButton::~GroupButton() { myButton_->setDelegate(nullptr); }

void GroupButton::setState(int32_t state) {
    state_ = state;
    switch (state) {
        case 0:
            myButton_->setTextColor(Qt::white);
            myButton_->setFaceBackground(Qt::transparent);
            myButton_->setFaceBorder(Qt::transparent, 0.0);
            break;
        case 1:
            myButton_->setTextColor(Qt::green);
            myButton_->setFaceBorder(Qt::green, kBorderWidth);
            break;
        case 2:
            myButton_->setTextColor(Qt::white);
            myButton_->setFaceBackground(Qt::white);
            myButton_->setFaceBorder(Qt::white, kBorderWidth);
            break;
        default:
            break;
    }
}

void GroupButton::setColor(const std::optional<Color>& color) {
    barColor_ = color ? toQColor(*color) : QColor();
    colorLayer_->setColor(barColor_);
}

void GroupButton::setGroupName(const std::string& name) { myButton_->setTitle(name); }

void GroupButton::setFrame(const Rect& frame) {
    const double w = frame.width;
    const double h = frame.height;
    double inset = 6.0;
    titleFrame_.y = 6.0;
    if (w < kNarrowWidth) {
        inset = 3.0;
        if (myButton_->shownTitle().size() > kShortTitle) titleFrame_.y = 8.0;
    }
    titleFrame_.width = w - inset;
    myButton_->setGeometry(toQRect(Rect{inset / 2, 0, w - inset, h}));
    setGeometry(toQRect(frame));
    placeTitle();
    barFrame_ = Rect{kBarInset, kBarInset, w - inset - 2 * kBarInset, kBarHeight};
    placeBar();
}

void GroupButton::groupPressed() { setState(state_ == 0 ? 1 : 0); }

void GroupButton::QBButtonClicked(QBButton& /*button*/) { post(kGroupClickedNotification); }

void GroupButton::QBButtonLongClicked(QBButton& /*button*/) {
    QLOG("Long click gb");
    post(kGroupLongClickedNotification);
}

void GroupButton::placeTitle() {
    myButton_->setFieldGeometry(flipped(titleFrame_, myButton_->height()));
}

void GroupButton::placeBar() { colorLayer_->setGeometry(flipped(barFrame_, myButton_->height())); }

void GroupButton::post(const char* name) const {
    center_.post(name, Dictionary{{"index", groupID_}});
}

}  // namespace quenbril
