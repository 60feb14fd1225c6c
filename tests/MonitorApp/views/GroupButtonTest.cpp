// The group buttons: their layout by width, the look of the server's states, the colour bar,
// and the notifications of a click and a long click.

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/views/GroupButton.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril::test {
namespace {

class GroupButtonTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        row.resize(800, 40);
        for (const char* name : {kGroupClickedNotification, kGroupLongClickedNotification}) {
            observers.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const Notification& n) {
                    posted.push_back(name + std::string(" ") +
                                     std::to_string(n.userInfo["index"].intValue().value_or(-1)));
                }));
        }
    }

    GroupButton& make(const std::string& title, double width, int32_t group = 1) {
        buttons.push_back(std::make_unique<GroupButton>(row, title, Color{0, 0, 1, 1},
                                                        Rect{0, 0, width, 40}, group,
                                                        NotificationCenter::defaultCenter()));
        buttons.back()->setFrame(Rect{0, 0, width, 40});
        return *buttons.back();
    }

    static QRgb pixel(QWidget& widget, int x, int y) {
        return widget.grab().toImage().pixelColor(x, y).rgba();
    }

    static void mouse(QWidget& widget, QEvent::Type type) {
        const QPointF at(widget.width() / 2.0, widget.height() / 2.0);
        QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }

    QWidget row;
    std::vector<std::unique_ptr<GroupButton>> buttons;
    std::vector<NotificationObserver> observers;
    std::vector<std::string> posted;
};

TEST_F(GroupButtonTest, ANarrowButtonLiftsALongTitleAndKeepsASmallerMargin) {
    GroupButton& four = make("Drum", 50);
    GroupButton& five = make("Drums", 50);
    EXPECT_EQ(four.titleFrame().y, 6.0);
    EXPECT_EQ(five.titleFrame().y, 8.0);
    EXPECT_EQ(five.titleFrame().width, 47.0) << "a narrow button keeps 3 points of margin";
    EXPECT_EQ(five.myButton().geometry(), QRect(2, 0, 47, 40)) << "1.5 points in, rounded";
    EXPECT_EQ(five.barFrame().width, 41.0);

    GroupButton& wide = make("Drums", 60);
    EXPECT_EQ(wide.titleFrame().y, 6.0);
    EXPECT_EQ(wide.titleFrame().width, 54.0);
    EXPECT_EQ(wide.myButton().geometry(), QRect(3, 0, 54, 40));
    EXPECT_EQ(wide.barFrame().x, 3.0);
    EXPECT_EQ(wide.barFrame().width, 48.0);

    // The title keeps its height (two thirds of the face it was made with) and the label is
    // placed by the frame, bottom-left points turned into the widget's own.
    const double height = wide.titleFrame().height;
    EXPECT_DOUBLE_EQ(height, 40.0 * 2 / 3);
    EXPECT_EQ(wide.myButton().field()->geometry().bottom() + 1, 40 - 6);
    wide.myButton().resize(54, 40);
    EXPECT_EQ(wide.myButton().field()->geometry().width(), 54) << "a resize keeps the place";
}

TEST_F(GroupButtonTest, TheStatesColourTitleBackgroundAndBorder) {
    GroupButton& b = make("Gr 1", 100);
    QBButton& face = b.myButton();
    EXPECT_EQ(face.textColor(), QColor(Qt::white));
    EXPECT_EQ(face.faceBorderWidth(), 0.0);
    const QRgb plain = pixel(face, 1, 20);

    b.setState(1);
    EXPECT_EQ(face.textColor(), QColor(Qt::green));
    EXPECT_EQ(face.faceBorderWidth(), 2.0);
    EXPECT_EQ(pixel(face, 1, 20), qRgb(0, 255, 0)) << "the border is drawn over the image";

    b.setState(2);
    EXPECT_EQ(face.textColor(), QColor(Qt::white));
    EXPECT_EQ(face.faceBackground(), QColor(Qt::white));
    EXPECT_EQ(pixel(face, 1, 20), qRgb(255, 255, 255));

    // From hard to on: the white background stays under the green border and title.
    b.setState(1);
    EXPECT_EQ(face.faceBackground(), QColor(Qt::white));
    EXPECT_EQ(face.faceBorderColor(), QColor(Qt::green));
    EXPECT_EQ(face.textColor(), QColor(Qt::green));

    b.setState(7);
    EXPECT_EQ(b.state(), 7);
    EXPECT_EQ(face.faceBorderColor(), QColor(Qt::green)) << "an unknown state changes no look";

    b.setState(0);
    EXPECT_EQ(face.faceBackground().alpha(), 0);
    EXPECT_EQ(pixel(face, 1, 20), plain);

    b.setState(2);
    b.groupPressed();
    EXPECT_EQ(b.state(), 0);
    b.groupPressed();
    EXPECT_EQ(b.state(), 1);
}

TEST_F(GroupButtonTest, TheColourBarLiesAlongTheBottomOverTheFace) {
    GroupButton& b = make("Gr 4", 100, 4);
    b.setColor(Color{1, 0, 0, 1});
    QBButton& face = b.myButton();
    EXPECT_EQ(pixel(face, 47, 40 - 3 - 2), qRgb(255, 0, 0));
    EXPECT_NE(pixel(face, 47, 40 - 3 - 6), qRgb(255, 0, 0)) << "5 points high";
    b.setGroupName("Drums");
    EXPECT_EQ(face.shownTitle(), "DRUMS");
}

TEST_F(GroupButtonTest, AClickAndALongClickPostTheirGroup) {
    GroupButton& b = make("Gr 5", 100, 5);
    mouse(b.myButton(), QEvent::MouseButtonPress);
    loop_->advance(0.4);
    mouse(b.myButton(), QEvent::MouseButtonRelease);
    EXPECT_EQ(posted, std::vector<std::string>{"GroupClicked 5"});

    posted.clear();
    mouse(b.myButton(), QEvent::MouseButtonPress);
    loop_->advance(QBButton::kLongClickTime);
    EXPECT_EQ(posted, std::vector<std::string>{"GroupLongClicked 5"}) << "before the release";
    mouse(b.myButton(), QEvent::MouseButtonRelease);
    EXPECT_EQ(posted.size(), 1u) << "a long click is no click";
}

}  // namespace
}  // namespace quenbril::test
