// The main window: its frame kept between runs, its close that saves as Quit does, its header
// and the menu item the connection dialog hides.

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/views/GroupButton.h"
#include "foundation/NotificationCenter.h"
#include "resources/QuenbrilResources.h"
#include "tests/MonitorApp/app/AppTest.h"

namespace quenbril::test {
namespace {

constexpr const char* kFrameKey = "mainWindowAutoSave2";

class MainWindowTest : public AppTest {
  protected:
    void show() {
        launch();
        window->showMainWindow();
    }
    static QRect screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    static std::string frameText(const QRect& r) {
        std::ostringstream out;
        out << r.x() << ' ' << r.y() << ' ' << r.width() << ' ' << r.height();
        return out.str();
    }
    /// The least size, within the screen (this one is narrower than the least size).
    static QSize leastSize() {
        return ViewController::kMinimumWindowSize.boundedTo(screen().size());
    }
    /// Where the window goes when no saved frame fits: on the screen.
    static QRect defaultFrame() {
        const QSize size =
            ViewController::kDefaultWindowSize.boundedTo(screen().size()).expandedTo(leastSize());
        QRect frame(QPoint(0, 0), size);
        frame.moveCenter(screen().center());
        return frame;
    }
};

TEST_F(MainWindowTest, ASavedFrameOnTheScreenIsRestored) {
    const QRect saved(screen().x() + 10, screen().y() + 20, 1100, 400);
    ASSERT_TRUE(defaults().setObject(Value(frameText(saved)), kFrameKey));
    show();
    EXPECT_EQ(window->geometry(), saved);
}

TEST_F(MainWindowTest, AnOffScreenOrBadSavedFrameGivesTheDefaultFrame) {
    const QRect s = screen();
    const std::vector<std::string> bad = {
        frameText(QRect(s.right() + 4000, s.y(), 1100, 400)),  // right of every screen
        frameText(QRect(s.x(), s.y() - 3000, 1100, 400)),      // above: its title bar too
        frameText(QRect(s.x() + 10, s.y() + 10, 500, 400)),    // narrower than allowed
        frameText(QRect(s.x() + 10, s.y() + 10, 5000, 400)),   // wider than allowed
        "10 10 wide high",
        "10 10 1100 400 extra",
    };
    for (const std::string& text : bad) {
        ASSERT_TRUE(defaults().setObject(Value(text), kFrameKey));
        controller->viewDidAppear();
        EXPECT_EQ(window->geometry(), defaultFrame()) << text;
        window->setGeometry(s.x() + 5, s.y() + 5, 1200, 300);
    }
}

TEST_F(MainWindowTest, ClosingTheWindowSavesTheFrameAndTheSettingsRecordOnce) {
    show();
    const QRect frame(screen().x() + 12, screen().y() + 14, 1111, 333);
    window->setGeometry(frame);
    EXPECT_TRUE(defaults().objectForKey("Settings").isNull());

    EXPECT_TRUE(window->close());
    EXPECT_EQ(quits, 1);
    auto record = defaults().dictionaryForKey("Settings");
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["chatOpen"].boolValue(), false);
    EXPECT_EQ((*record)["playerOpen"].boolValue(), false);
    EXPECT_TRUE((*record)["chanList"].isArray());
    EXPECT_EQ(defaults().stringForKey(kFrameKey), frameText(frame));

    // Saved on disk: a restart reads them. A later quit saves no second time.
    defaults().removeObjectForKey("Settings");
    window->viewWillDisappear();
    EXPECT_TRUE(defaults().objectForKey("Settings").isNull());
    restart();
    EXPECT_EQ(defaults().stringForKey(kFrameKey), frameText(frame));
}

TEST_F(MainWindowTest, TheWindowHasItsTitleLimitsAndNoCloseOrMiniaturiseButton) {
    show();
    EXPECT_EQ(window->windowTitle(), "Quenbril 3 Remote");
    EXPECT_EQ(window->minimumSize(), QSize(1039, 256).boundedTo(screen().size()));
    EXPECT_TRUE(screen().contains(window->geometry()));
    EXPECT_EQ(window->maximumSize(), QSize(4200, 2000));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(controller->scrollView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(controller->scrollView()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(MainWindowTest, TheHeaderIsLightGrayAndShowsTheVersion) {
    show();
    auto* header = controller->findChild<QWidget*>("headerView");
    auto* version = controller->findChild<QLabel*>("versionNumber");
    ASSERT_NE(header, nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), "V1.0.0");
    EXPECT_EQ(version->font().family(), "Nexa Light");
    EXPECT_EQ(version->font().pointSize(), 14);

    const QImage picture = header->grab().toImage();
    const Color gray = ColorHelper::vozodLightGray();
    const QColor expected = QColor::fromRgbF(gray.red, gray.green, gray.blue);
    // A spot of the header away from its labels and buttons.
    const QColor seen = picture.pixelColor(picture.width() - 3, 2);
    EXPECT_NEAR(seen.red(), expected.red(), 1);
    EXPECT_NEAR(seen.green(), expected.green(), 1);
    EXPECT_NEAR(seen.blue(), expected.blue(), 1);
}

TEST_F(MainWindowTest, TheMainViewIsDarkerThanThePanelsOnceItHasAppeared) {
    show();
    const QImage picture = controller->grab().toImage();
    const QColor expected = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
    // The status line's far end, and a corner of the empty strip area.
    const QWidget* viewport = controller->scrollView()->viewport();
    const QPoint corner = viewport->mapTo(controller, QPoint(2, 2));
    for (const QPoint spot : {QPoint(picture.width() - 3, picture.height() - 3), corner}) {
        const QColor seen = picture.pixelColor(spot);
        EXPECT_NEAR(seen.red(), expected.red(), 1) << spot.x() << "," << spot.y();
        EXPECT_NEAR(seen.green(), expected.green(), 1) << spot.x() << "," << spot.y();
        EXPECT_NEAR(seen.blue(), expected.blue(), 1) << spot.x() << "," << spot.y();
    }
}

// With every warning switched off the reset button is drawn at 0.3 opacity over the header, and
// fully again once they are on.
TEST_F(MainWindowTest, UpdateWarningsDimsTheResetButtonWhileEveryWarningIsOff) {
    initQuenbrilResources();
    show();
    QWidget* header = controller->headerView();
    const QRect where = controller->resetButton()->geometry();
    auto picture = [&] {
        return header->grab(where).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage full = picture();
    const Color gray = ColorHelper::vozodLightGray();
    const QColor back = QColor::fromRgbF(gray.red, gray.green, gray.blue);

    settings().setDisableAllWarnings(true);
    controller->updateWarnings();
    EXPECT_DOUBLE_EQ(controller->resetButtonOpacity(), 0.3);
    const QImage dimmed = picture();
    ASSERT_EQ(dimmed.size(), full.size());
    int differing = 0;
    int worst = 0;
    for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) {
            const QColor f = full.pixelColor(x, y);
            const QColor d = dimmed.pixelColor(x, y);
            if (f != back) ++differing;
            worst = std::max({worst, std::abs(d.red() - qRound(0.3 * f.red() + 0.7 * back.red())),
                              std::abs(d.green() - qRound(0.3 * f.green() + 0.7 * back.green())),
                              std::abs(d.blue() - qRound(0.3 * f.blue() + 0.7 * back.blue()))});
        }
    }
    EXPECT_GT(differing, 0) << "the button draws something";
    EXPECT_LE(worst, 2);

    settings().setDisableAllWarnings(false);
    controller->updateWarnings();
    EXPECT_DOUBLE_EQ(controller->resetButtonOpacity(), 1.0);
    EXPECT_EQ(picture(), full);
}

TEST_F(MainWindowTest, ThePictureBehindTheStripsIsCentredAtHalfItsSize) {
    initQuenbrilResources();
    // A controller made now finds the pictures.
    auto* withPicture = new ViewController(sharedMainWindowServices());
    MainWindow second(withPicture);
    withPicture->setSegueFactory([](const std::string&) { return nullptr; });
    withPicture->viewDidLoad();
    second.showMainWindow();
    auto* picture = withPicture->findChild<QLabel*>("backgroundPicture");
    ASSERT_NE(picture, nullptr);
    const QPixmap full(":/images/Quenbril_Background.png");
    EXPECT_EQ(picture->size(), full.size() / 2);
    const QWidget* viewport = withPicture->scrollView()->viewport();
    EXPECT_EQ(picture->parentWidget(), viewport);
    EXPECT_LE((picture->geometry().center() - viewport->rect().center()).manhattanLength(), 1);

    // It stays centred as the window grows.
    second.resize(second.width() + 200, second.height() + 100);
    QApplication::processEvents();
    EXPECT_LE((picture->geometry().center() - viewport->rect().center()).manhattanLength(), 1);
    connectLinkSenders(nullptr, *withPicture);
}

// The red mode label sits in the header beside the group buttons. Switched on after the row was
// laid out (as a user does during a show), at every width from the least to the largest, no
// label lies over a button and a click on any part of a button reaches it.
TEST_F(MainWindowTest, NoModeLabelCoversOrBlocksAGroupButtonAtAnyWidth) {
    // The labels show while the server is here.
    FrameServer server;
    useRealGroupButtonsAndLinkTo(server);
    show();
    ServerManager::sharedInstance().tryToConnect();
    ASSERT_TRUE(server.acceptWithin(*loop_));
    ASSERT_TRUE(server.sendMessage(Dictionary{{"Command", "InitialDataReady"}, {"Value", true}}));
    ASSERT_TRUE(loop_->runUntil([] { return ServerManager::sharedInstance().serverIsHere(); }, 3));
    settings().setCurrentAct(9);  // the widest act number, "MIC CHECK ACT 10"

    const QList<GroupButton*> buttons = controller->findChildren<GroupButton*>();
    ASSERT_EQ(buttons.size(), 8);
    auto* label = controller->findChild<QLabel*>("registerLabel");
    ASSERT_NE(label, nullptr);
    const std::vector<std::pair<const char*, QString>> modes = {
        {"Notebook Mode", "Notebook mode"},
        {"Mic Check Mode", "MIC CHECK ACT 10"},
        {"Hard Mute", "HARD MUTING"}};
    std::vector<int> widths;
    for (int w = ViewController::kMinimumWindowSize.width(); w < 2600; w += 61) widths.push_back(w);
    widths.push_back(ViewController::kMaximumWindowSize.width());
    for (int width : widths) {
        window->resize(width, 600);
        QApplication::processEvents();
        loop_->advance(1.0);  // the strips and the row are laid out for the new size
        for (const auto& [item, text] : modes) {
            QAction* mode = delegate->itemTitled(item);
            ASSERT_NE(mode, nullptr) << item;
            mode->trigger();
            QApplication::processEvents();
            ASSERT_EQ(label->text(), text);
            const QRect labelFrame(label->mapTo(window.get(), QPoint(0, 0)), label->size());
            for (GroupButton* button : buttons) {
                SCOPED_TRACE(testing::Message() << text.toStdString() << " at " << width << ", "
                                                << button->myButton().title());
                const QRect frame(button->mapTo(window.get(), QPoint(0, 0)), button->size());
                ASSERT_GT(frame.width(), 0);
                EXPECT_FALSE(frame.intersects(labelFrame));
                for (QPoint at :
                     {frame.center(), frame.topLeft() + QPoint(1, 1),
                      frame.topRight() + QPoint(-1, 1), frame.bottomRight() - QPoint(1, 1)}) {
                    QWidget* hit = window->childAt(at);
                    EXPECT_TRUE(hit == button || button->isAncestorOf(hit))
                        << "at " << at.x() << "," << at.y() << " lies "
                        << (hit ? hit->metaObject()->className() : "nothing");
                }
            }
            mode->trigger();
        }
    }
    GroupButtonContainerWidget::setButtonFactory(nullptr);
}

TEST_F(MainWindowTest, TheSegueTableOpensItsWindowsAndSkipsTheOthers) {
    struct Destination : SegueDestination {
        void show() override { ++shown; }
        int shown = 0;
    };
    auto made = std::make_shared<Destination>();
    SegueTable table;
    table.add("snapshotSeque", [made] { return made; });
    controller->setSegueTable(table);
    controller->performSegue("snapshotSeque");
    EXPECT_EQ(made->shown, 1);
    controller->performSegue("showSettings");  // no window yet: skipped
    EXPECT_FALSE(table.contains("showSettings"));
    EXPECT_EQ(table.make("showSettings"), nullptr);
}

TEST_F(MainWindowTest, TheConnectionDialogHidesTheOpenInItem) {
    QAction* file = window->menuBar()->actions()[1];
    QAction* openIn = file->menu()->actions()[1];
    EXPECT_TRUE(openIn->isVisible());
    controller->showOpenInMenu(false);
    EXPECT_FALSE(openIn->isVisible());
    EXPECT_FALSE(openIn->isEnabled());
}

}  // namespace
}  // namespace quenbril::test
