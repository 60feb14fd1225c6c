// The main of the widget-logic tests: the tests drive the controllers' life-cycle functions
// on the offscreen platform, with one QApplication for the whole program.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
