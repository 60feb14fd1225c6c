// The chat windows' image button: a press and a release anywhere is one click.

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "MonitorApp/chat/ui/SendButton.h"
#include "MonitorApp/chat/ui/SendButtonDelegate.h"

namespace quenbril::test {
namespace {

struct Clicks : SendButtonDelegate {
    void sendClicked(SendButton& button) override { clicked.push_back(&button); }
    std::vector<SendButton*> clicked;
};

TEST(SendButton, APressAndAReleaseAnywhereIsOneClick) {
    QWidget window;
    SendButton button(&window);
    button.setGeometry(10, 10, 80, 30);
    window.show();
    Clicks clicks;
    button.setDelegate(&clicks);
    EXPECT_EQ(button.title()->text(), "Send");
    EXPECT_EQ(button.title()->geometry(), QRect(0, 6, 80, 18)) << "centred, 18 high";

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(button.buttonDown());
    EXPECT_TRUE(clicks.clicked.empty()) << "nothing before the release";
    // Released far outside: still a click.
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(300, 200));
    EXPECT_FALSE(button.buttonDown());
    EXPECT_EQ(clicks.clicked, std::vector<SendButton*>{&button});

    // A release without a press on the button is none.
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks.clicked.size(), 1u);
}

TEST(SendButton, TheTitleIsPlainText) {
    SendButton button;
    button.title()->setText("<b>+</b>");
    EXPECT_EQ(button.title()->textFormat(), Qt::PlainText);
}

}  // namespace
}  // namespace quenbril::test
