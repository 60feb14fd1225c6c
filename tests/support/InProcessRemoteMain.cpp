// The main of the window tests that put the application together in their own process: the
// application object, its resources and its look, as the program makes them.

#include <gtest/gtest.h>

#include <QApplication>

#include "MonitorApp/app/ApplicationAppearance.h"
#include "resources/QuenbrilResources.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    quenbril::initQuenbrilResources();
    quenbril::ApplicationAppearance::apply(application);
    return RUN_ALL_TESTS();
}
