#include "MonitorApp/app/RemoteComposition.h"

#include <QCoreApplication>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
#include "MonitorApp/mainwindow/SegueTable.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"

namespace quenbril {

RemoteComposition::RemoteComposition() {
    controller_ =
        new ViewController(RemoteContext::fromSharedInstances(QtShortTimeClock::system()));
    connectLinkSenders(&ServerManager::sharedInstance(), *controller_);
    controller_->setAlertPresenter(&alerts_);
    controller_->setSegueTable(segueTable());

    window_ = std::make_unique<MainWindow>(controller_);
    alerts_.setParent(window_.get());
    files_.setParent(window_.get());

    delegate_ = std::make_unique<AppDelegate>(*window_->menuBar(), *controller_, alerts_, files_);
    // The lock menu item reaches the main window's lock here once it exists
    // (delegate_->setLockHandler); until then the item only changes its title.
    // A quit by menu saves as a close of the window does; so does the end of the run loop.
    MainWindow* window = window_.get();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window,
                     [window] { window->viewWillDisappear(); });
}

RemoteComposition::~RemoteComposition() {
    // The shared link outlives the window: its senders are let go first.
    connectLinkSenders(nullptr, *controller_);
    delegate_.reset();
    window_.reset();
}

void RemoteComposition::start() {
    controller_->viewDidLoad();
    delegate_->applicationDidFinishLaunching();
    window_->showMainWindow();
}

// The windows the main window opens, by segue. The preference panes ("showSettings") and the
// windows of the chat, the snapshots and the performers join the table as they are built.
SegueTable RemoteComposition::segueTable() {
    SegueTable table;
    table.add("showPreferences", [this] {
        auto dialog = std::make_shared<PreferencesViewController>();
        dialog->setAlertPresenter(&alerts_);
        return dialog;
    });
    return table;
}

}  // namespace quenbril
