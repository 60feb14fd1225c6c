#include "MonitorApp/app/RemoteComposition.h"

#include <QCoreApplication>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/ModalStacking.h"
#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ui/ChatMacroViewController.h"
#include "MonitorApp/chat/ui/ChatNotifierViewController.h"
#include "MonitorApp/chat/ui/ChatSettingsViewController.h"
#include "MonitorApp/chat/ui/ChatWindowOpener.h"
#include "MonitorApp/controls/ModalOwner.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/controls/WindowsOnScreen.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
#include "MonitorApp/mainwindow/SegueTable.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/AddNoteViewController.h"
#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/panels/ui/PlayerListViewController.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/StripWidgetFactories.h"
#include "MonitorApp/views/editor/ChannelStripViewController.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "platform/midi/MidiDeviceManager.h"
#include "platform/midi/RtMidiBackend.h"

namespace quenbril {

RemoteComposition::RemoteComposition()
    : windowsOnScreen_(std::make_unique<WindowsOnScreen>()),
      modalStacking_(std::make_unique<ModalStacking>()),
      panels_{NotificationCenter::defaultCenter(),   UserDefaults::standardUserDefaults(),
              UserSettingsManager::sharedInstance(), ChannelStripManager::sharedInstance(),
              PlayerManager::sharedInstance(),       PlaybackManager::sharedInstance(),
              NotebookManager::sharedInstance(),     LTCManager::sharedInstance(),
              ColorHelper::sharedInstance(),         PELAudioEngine::sharedInstance()} {
    // The machine's MIDI system: the ALSA sequencer, else JACK MIDI, whose devices come with a
    // JACK server, however late it starts.
    MidiDeviceManager::sharedDeviceManager().installBackend(makeSystemMidiBackend());
    // Before the window: its strip area makes the level display when the strips first arrive.
    installStripWidgetFactories(sharedStripViewServices(), ChatManager::uuid);
    controller_ = new ViewController(sharedMainWindowServices());
    connectLinkSenders(&ServerManager::sharedInstance(), *controller_);
    controller_->setAlertPresenter(&alerts_);
    controller_->setSegueTable(segueTable());

    window_ = std::make_unique<MainWindow>(controller_);

    delegate_ = std::make_unique<AppDelegate>(*window_->menuBar(), alerts_, files_);
    ViewController* controller = controller_;
    delegate_->setLockHandler([controller](bool on) { controller->lock(on); });
    delegate_->setToolHandler([controller](int tool) {
        if (ToolSelector* selector = controller->toolSelector()) selector->selectTool(tool);
    });
    delegate_->setPlayersHandler([this] { openPlayerList(); });
    delegate_->setMicCheckWindowHandler([this] { openMicCheck(); });
    delegate_->setTimecodeWindowHandler([this] { openTimecode(); });
    delegate_->setNotebookHandler([this] { openNotebook(); });
    delegate_->setChannelStripsHandler([this] { openChannelStrips(); });
    delegate_->setChatMacrosHandler([this] { openChatMacros(); });
    // A quit by menu saves as a close of the window does; so does the end of the run loop (the
    // main window's close ends it too).
    // The player list stores its players as its window closing would.
    MainWindow* window = window_.get();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, [this, window] {
        // An open preferences window stores what its panes hold, as its close would.
        if (settingsWindow_ && settingsWindow_->isVisible()) settingsWindow_->closeWindow();
        window->viewWillDisappear();
        if (playerList_) playerList_->applicationWillTerminate();
        // An open performer window ends its replay at quit as at any close.
        if (performerWindow_) performerWindow_->viewWillDisappear();
        // A macro learnt while its editor is still open is kept.
        ChatMacroManager::sharedInstance().saveValues();
    });
}

RemoteComposition::~RemoteComposition() {
    performerWindow_.reset();
    // The shared link outlives the window: its senders are let go first.
    connectLinkSenders(nullptr, *controller_);
    delegate_.reset();
    playerList_.reset();
    micCheck_.reset();
    timecode_.reset();
    addNote_.reset();
    notebook_.reset();
    channelStrips_.reset();
    chatMacros_.reset();
    window_.reset();
    // The strips' controllers own their views: they go while the application still exists.
    ChannelStripManager::resetSharedInstance();
    stopThreadsOfSharedObjects();
    removeStripWidgetFactories();
}

void RemoteComposition::stopThreadsOfSharedObjects() {
    // The shared objects go in static destruction, after main returns, in an order nobody chose
    // (the user settings before the audio engine that reads them). Every thread that reads them
    // stops here, before that, once no window is left to start one again. Each stop is bounded:
    // a sound host that does not answer costs at most one guarded wait.
    //
    // The output's callback reads the engine, and through it the user settings, every period;
    // the engine's capture too, where the server role set one up.
    PELAudioEngine::sharedInstance().stopAudioThreads();
    // The MIDI port poller and inputs report to the main loop and the notification centre.
    MidiDeviceManager::sharedDeviceManager().installBackend(nullptr);
}

void RemoteComposition::start() {
    controller_->viewDidLoad();
    delegate_->applicationDidFinishLaunching();
    window_->showMainWindow();
}

void RemoteComposition::openPlayerList() {
    if (!playerList_) {
        playerList_ = std::make_unique<PlayerListViewController>(panels_);
        playerList_->setAlertPresenter(&alerts_);
        playerList_->setFilePanel(&files_);
        // The list's editor is the performer window in its editing mode ("showPlayer").
        playerList_->setEditorMaker([this](int32_t playerIndex, std::function<void()> closed) {
            auto editor =
                std::make_shared<PlayerViewController>(panels_, &ServerManager::sharedInstance());
            editor->setAlertPresenter(&alerts_);
            editor->setFilePanel(&files_);
            editor->setReadOnly(false);
            editor->setPlayerIndex(playerIndex);
            editor->setClosedHandler(std::move(closed));
            return editor;
        });
    }
    playerList_->show();
}

void RemoteComposition::openNotebook() {
    if (!notebook_) {
        notebook_ = std::make_unique<NotebookViewController>(panels_);
        notebook_->setLinkSender(&ServerManager::sharedInstance());
        notebook_->setAlertPresenter(&alerts_);
        notebook_->setFilePanel(&files_);
    }
    notebook_->show();
}

void RemoteComposition::openChatMacros() {
    if (!chatMacros_) {
        chatMacros_ = std::make_unique<ChatMacroViewController>(
            ChatMacroManager::sharedInstance(), NotificationCenter::defaultCenter(),
            UserSettingsManager::sharedInstance());
        chatMacros_->setAlertPresenter(&alerts_);
    }
    chatMacros_->show();
    chatMacros_->raise();
}

void RemoteComposition::openChannelStrips() {
    if (channelStrips_ && channelStrips_->isVisible()) {
        channelStrips_->show();
        return;
    }
    // The remote knows no receivers: the receiver column offers "No device" alone.
    channelStrips_ =
        std::make_unique<ChannelStripViewController>(ChannelStripViewController::Services{
            ChannelStripManager::sharedInstance(), PELAudioEngine::sharedInstance(),
            PlayerManager::sharedInstance(), NotificationCenter::defaultCenter(),
            UserSettingsManager::sharedInstance()});
    channelStrips_->setAlertPresenter(&alerts_);
    channelStrips_->show();
}

void RemoteComposition::openMicCheck() {
    if (!micCheck_) {
        micCheck_ = std::make_unique<MicCheckViewController>(panels_);
        micCheck_->setLinkSender(&ServerManager::sharedInstance());
    }
    micCheck_->show();
}

void RemoteComposition::openTimecode() {
    if (!timecode_) timecode_ = std::make_unique<BigLTCViewController>(panels_);
    timecode_->show();
}

// The windows the main window opens, by segue.
SegueTable RemoteComposition::segueTable() {
    SegueTable table;
    table.add("showPreferences", [this] {
        auto dialog = std::make_shared<PreferencesViewController>(
            UserSettingsManager::sharedInstance(), UserDefaults::standardUserDefaults(),
            ServerManager::sharedInstance(), NotificationCenter::defaultCenter());
        dialog->setAlertPresenter(&alerts_);
        ModalOwner::keepAbove(*dialog);
        return dialog;
    });
    // One preferences window: opening it again while it is shown brings it forward.
    table.add("showSettings", [this]() -> std::shared_ptr<SegueDestination> {
        if (settingsWindow_ && settingsWindow_->isVisible()) {
            settingsWindow_->raise();
            settingsWindow_->activateWindow();
            return nullptr;
        }
        auto window = std::make_shared<SettingsTabViewController>(
            PreferencesServices{
                UserSettingsManager::sharedInstance(), ColorHelper::sharedInstance(),
                ChannelStripManager::sharedInstance(), UserDefaults::standardUserDefaults(),
                NotificationCenter::defaultCenter()},
            &ServerManager::sharedInstance());
        auto* chat = new ChatSettingsViewController(sharedChatServices());
        chat->setLinkSender(&ServerManager::sharedInstance());
        window->addPane("Chat", chat);
        window->setAlertPresenter(&alerts_);
        settingsWindow_ = window;
        return window;
    });
    // One chat window: opening it while it is shown brings it forward.
    table.add("showSplit", ChatWindowOpener(sharedChatServices(), &alerts_));
    // One page notifier: a page while it is shown updates it instead of opening another.
    table.add("showChatNotifier", [this] {
        return ChatNotifierViewController::shownOrNew(
            chatNotifier_, UserSettingsManager::sharedInstance(), ColorHelper::sharedInstance());
    });
    // The main window rebinds an open performer window itself and opens a new one only when
    // none is open; the last one made is kept here while it is shown.
    table.add("editPlayer", [this] {
        auto window =
            std::make_shared<PlayerViewController>(panels_, &ServerManager::sharedInstance());
        window->setAlertPresenter(&alerts_);
        window->setFilePanel(&files_);
        performerWindow_ = window;
        return window;
    });
    // One snapshot selector ("Snaps"): opening it while it is shown brings it forward.
    table.add("snapshotSeque", [this] {
        return SnapshotSelectorViewController::shownOrNew(snapshotSelector_, panels_,
                                                          SnapshotManager::sharedInstance());
    });
    // The note sheet of a long click in notebook mode, on the main window. A sheet already
    // open is brought forward instead of a second one.
    table.add("showAddNote", [this]() -> std::shared_ptr<SegueDestination> {
        if (addNote_ && addNote_->isVisible()) {
            addNote_->raise();
            return nullptr;
        }
        auto sheet = std::make_shared<AddNoteViewController>(panels_, window_.get());
        sheet->setLinkSender(&ServerManager::sharedInstance());
        sheet->setAlertPresenter(&alerts_);
        // Above every window of the application, the chat window kept on top included.
        ModalOwner::keepAbove(*sheet);
        addNote_ = sheet;
        return sheet;
    });
    return table;
}

}  // namespace quenbril
