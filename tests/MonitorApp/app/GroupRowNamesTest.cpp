// The group buttons' names in the main window's header: at the least width, with a mode label
// beside the row, every name reads whole, smaller where it must, or shortened with an ellipsis;
// none is cut at its label's edges.

#include <QAction>
#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>

#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/views/GroupButton.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/app/AppTest.h"

namespace quenbril::test {
namespace {

class GroupRowNamesTest : public AppTest {};

TEST_F(GroupRowNamesTest, AtTheLeastWidthEveryNameReadsWholeOrEndsInAnEllipsis) {
    // The mode labels show while the link is up.
    FrameServer server;
    useRealGroupButtonsAndLinkTo(server);
    launch();
    window->showMainWindow();
    ServerManager::sharedInstance().tryToConnect();
    ASSERT_TRUE(server.acceptWithin(*loop_));
    ASSERT_TRUE(loop_->runUntil([] { return ServerManager::sharedInstance().isConnected(); }, 3));

    const std::vector<std::string> names = {"Leads",  "Family", "Friends",      "Band",
                                            "Chorus", "Swings", "Understudies", "Orchestra"};
    const QList<GroupButton*> buttons = controller->findChildren<GroupButton*>();
    ASSERT_EQ(buttons.size(), 8);
    for (GroupButton* button : buttons) {
        button->setGroupName(names.at(static_cast<size_t>(button->groupID() - 1)));
    }
    window->resize(ViewController::kMinimumWindowSize.width(), 600);
    QApplication::processEvents();
    loop_->advance(1.0);  // the strips and the row are laid out for the new size

    for (const char* item : {"Mic Check Mode", "Notebook Mode", "Hard Mute"}) {
        QAction* mode = delegate->itemTitled(item);
        ASSERT_NE(mode, nullptr) << item;
        mode->trigger();
        QApplication::processEvents();
        for (GroupButton* button : buttons) {
            const QString name =
                QString::fromStdString(names.at(static_cast<size_t>(button->groupID() - 1)))
                    .toUpper();
            const QLabel* label = button->myButton().field();
            const QString shown = label->text();
            SCOPED_TRACE(testing::Message() << item << ": " << name.toStdString() << " shows \""
                                            << shown.toStdString() << "\"");
            const QString ellipsis(QChar(0x2026));
            EXPECT_TRUE(shown == name || (shown.endsWith(ellipsis) && shown.size() > 1 &&
                                          name.startsWith(shown.chopped(1))));
            EXPECT_LE(QFontMetricsF(label->font()).horizontalAdvance(shown),
                      label->contentsRect().width())
                << "cut at the label's edges";
            EXPECT_GE(label->font().pointSizeF(), QBButton::kSmallestTitleSize);
            EXPECT_TRUE(button->rect().contains(
                label->geometry().translated(button->myButton().geometry().topLeft())))
                << "the label lies within its button";
        }
        mode->trigger();
    }
    // In a wide window the names take the buttons' own size again.
    window->resize(1900, 600);
    QApplication::processEvents();
    loop_->advance(1.0);
    for (GroupButton* button : buttons) {
        const QLabel* label = button->myButton().field();
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_EQ(label->font().pointSizeF(), 10.0);
        EXPECT_FALSE(label->text().endsWith(QChar(0x2026)));
    }
    GroupButtonContainerWidget::setButtonFactory(nullptr);
}

}  // namespace
}  // namespace quenbril::test
