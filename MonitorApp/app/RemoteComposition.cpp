#include "MonitorApp/app/RemoteComposition.h"

#include <QCoreApplication>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ui/ChatNotifierViewController.h"
#include "MonitorApp/chat/ui/ChatSettingsViewController.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
#include "MonitorApp/mainwindow/SegueTable.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/views/StripWidgetFactories.h"

namespace quenbril {

RemoteComposition::RemoteComposition() {
    // Before the window: its strip area makes the level display when the strips first arrive.
    installStripWidgetFactories();
    controller_ =
        new ViewController(RemoteContext::fromSharedInstances(QtShortTimeClock::system()));
    connectLinkSenders(&ServerManager::sharedInstance(), *controller_);
    controller_->setAlertPresenter(&alerts_);
    controller_->setSegueTable(segueTable());

    window_ = std::make_unique<MainWindow>(controller_);
    alerts_.setParent(window_.get());
    files_.setParent(window_.get());

    delegate_ = std::make_unique<AppDelegate>(*window_->menuBar(), *controller_, alerts_, files_);
    ViewController* controller = controller_;
    delegate_->setLockHandler([controller](bool on) { controller->lock(on); });
    delegate_->setToolHandler([controller](int tool) {
        if (ToolSelector* selector = controller->toolSelector()) selector->selectTool(tool);
    });
    delegate_->setPlayersHandler([this] { openPlayerList(); });
    delegate_->setMicCheckWindowHandler([this] { openMicCheck(); });
    delegate_->setTimecodeWindowHandler([this] { openTimecode(); });
    // A quit by menu saves as a close of the window does; so does the end of the run loop.
    // The player list stores its players as its window closing would.
    MainWindow* window = window_.get();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, [this, window] {
        window->viewWillDisappear();
        if (playerList_) playerList_->applicationWillTerminate();
    });
}

RemoteComposition::~RemoteComposition() {
    // The shared link outlives the window: its senders are let go first.
    connectLinkSenders(nullptr, *controller_);
    delegate_.reset();
    playerList_.reset();
    micCheck_.reset();
    timecode_.reset();
    window_.reset();
    // The strips' controllers own their views: they go while the application still exists.
    ChannelStripManager::resetSharedInstance();
    removeStripWidgetFactories();
}

void RemoteComposition::start() {
    controller_->viewDidLoad();
    delegate_->applicationDidFinishLaunching();
    window_->showMainWindow();
}

void RemoteComposition::openPlayerList() {
    if (!playerList_) {
        playerList_ = std::make_unique<PlayerListViewController>();
        playerList_->setAlertPresenter(&alerts_);
        playerList_->setFilePanel(&files_);
        // The player editor ("showPlayer") joins through setEditorMaker once the performer
        // window exists; until then adding and editing are skipped with a log line.
    }
    playerList_->show();
}

void RemoteComposition::openMicCheck() {
    if (!micCheck_) micCheck_ = std::make_unique<MicCheckViewController>();
    micCheck_->show();
}

void RemoteComposition::openTimecode() {
    if (!timecode_) timecode_ = std::make_unique<BigLTCViewController>();
    timecode_->show();
}

// The windows the main window opens, by segue. The windows of the chat, the snapshots and the
// performers join the table as they are built.
SegueTable RemoteComposition::segueTable() {
    SegueTable table;
    table.add("showPreferences", [this] {
        auto dialog = std::make_shared<PreferencesViewController>();
        dialog->setAlertPresenter(&alerts_);
        return dialog;
    });
    // One preferences window: opening it again while it is shown brings it forward.
    table.add("showSettings", [this]() -> std::shared_ptr<SegueDestination> {
        if (settingsWindow_ && settingsWindow_->isVisible()) {
            settingsWindow_->raise();
            settingsWindow_->activateWindow();
            return nullptr;
        }
        auto window = std::make_shared<SettingsTabViewController>(&ServerManager::sharedInstance());
        auto* chat = new ChatSettingsViewController;
        chat->setLinkSender(&ServerManager::sharedInstance());
        window->addPane("Chat", chat);
        window->setAlertPresenter(&alerts_);
        settingsWindow_ = window;
        return window;
    });
    // One page notifier: a page while it is shown updates it instead of opening another.
    table.add("showChatNotifier",
              [this] { return ChatNotifierViewController::shownOrNew(chatNotifier_); });
    return table;
}

}  // namespace quenbril
