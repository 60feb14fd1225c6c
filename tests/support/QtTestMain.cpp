// The main of the widget-logic tests: the tests drive the controllers' life-cycle functions
// on the offscreen platform, with one QApplication for the whole program.

#include <gtest/gtest.h>

#include <QApplication>

// The platform and its options; a test binary may give the offscreen platform a screen of
// another size.
#ifndef QUENBRIL_QT_PLATFORM
#define QUENBRIL_QT_PLATFORM "offscreen"
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", QUENBRIL_QT_PLATFORM);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
