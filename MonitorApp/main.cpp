// quenbril: the remote of the monitoring server.

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>
#include <vector>

#include "MonitorApp/app/AppOptions.h"
#include "MonitorApp/app/ApplicationAppearance.h"
#include "MonitorApp/app/QuitOnSignals.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "foundation/RunLoop.h"
#include "foundation/qt/QtRunLoop.h"
#include "resources/QuenbrilResources.h"

using namespace quenbril;

int main(int argc, char** argv) {
    // The command line is read before any window system is needed, so that --help and
    // --version work anywhere.
    const std::string program = "quenbril";
    std::string error;
    auto options = AppOptions::parse(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), error.c_str(),
                     AppOptions::usage(program).c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(AppOptions::usage(program).c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("%s %s\n", program.c_str(), QUENBRIL_VERSION);
        return 0;
    }

    // Before any thread exists, so that every thread leaves the stop signals to the main loop.
    QuitOnSignals::blockSignals();

    // Qt reads no arguments of its own: the application takes none but the two above.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    initQuenbrilResources();
    QApplication::setApplicationName("Quenbril");
    QApplication::setApplicationVersion(QUENBRIL_VERSION);
    QApplication::setDesktopFileName("quenbril");
    QApplication::setWindowIcon(QIcon(":/images/quenbril.png"));
    QtRunLoop loop;
    RunLoop::setMain(&loop);
    ApplicationAppearance::apply(application);

    int status = 0;
    {
        RemoteComposition composition;
        QuitOnSignals stopSignals([] { QApplication::exit(0); });
        // The launch runs inside the run loop, so that a quit during it (a stop signal while
        // an alert of the start-up is open) ends the run.
        RunLoop::main().post([&composition] { composition.start(); });
        status = application.exec();
    }
    RunLoop::setMain(nullptr);
    return status;
}
