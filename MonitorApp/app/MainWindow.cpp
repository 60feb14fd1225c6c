#include "MonitorApp/app/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/mainwindow/ViewController.h"

namespace quenbril {

MainWindow::MainWindow(ViewController* controller)
    : controller_(controller), quitHandler_([] { QCoreApplication::exit(0); }) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowMaximizeButtonHint);
    setCentralWidget(controller_);
    setMinimumSize(WindowFrameAutosave::withinScreen(ViewController::kMinimumWindowSize, *this));
    setMaximumSize(ViewController::kMaximumWindowSize);
    setWindowTitle("Quenbril 3 Remote");
}

MainWindow::~MainWindow() = default;

void MainWindow::showMainWindow() {
    show();
    controller_->viewDidAppear();
}

void MainWindow::viewWillDisappear() {
    if (disappeared_) return;
    disappeared_ = true;
    controller_->viewWillDisappear();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    viewWillDisappear();
    event->accept();
    if (quitHandler_) quitHandler_();
}

}  // namespace quenbril
