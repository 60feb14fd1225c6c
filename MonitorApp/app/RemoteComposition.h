#pragma once

#include <memory>

#include "MonitorApp/app/QtAlertPresenter.h"
#include "MonitorApp/app/QtFilePanel.h"
#include "MonitorApp/panels/ui/PanelServices.h"

namespace quenbril {

class AppDelegate;
class BigLTCViewController;
class ChannelStripViewController;
class ChatMacroViewController;
class MicCheckViewController;
class ModalStacking;
class ChatNotifierViewController;
class AddNoteViewController;
class MainWindow;
class NotebookViewController;
class PlayerListViewController;
class PlayerViewController;
class SegueTable;
class SettingsTabViewController;
class SnapshotSelectorViewController;
class ViewController;
class WindowsOnScreen;

/// The composition root: the one place the application is put together. It makes the main
/// window controller over the shared instances, gives every sender the server link, fills the
/// segue table, and makes the main window, the alert and file panels and the application
/// delegate with its menu. Made once by main(), after the QApplication and the main run loop.
class RemoteComposition {
  public:
    RemoteComposition();
    ~RemoteComposition();

    /// Loads the main window's view, finishes the launch and shows the window (the connection
    /// dialog opens on the first start of the run).
    void start();

    MainWindow& mainWindow() const { return *window_; }
    ViewController& viewController() const { return *controller_; }
    AppDelegate& appDelegate() const { return *delegate_; }
    /// Opens the player list, made on first use and kept for the run: opening it while it is
    /// shown brings it forward.
    void openPlayerList();
    /// The player list; null until it was first opened.
    PlayerListViewController* playerList() const { return playerList_.get(); }
    /// The mic-check window and the large timecode window, each made on first use and kept for
    /// the run: opening one while it is shown brings it forward.
    void openMicCheck();
    void openTimecode();
    /// Null until first opened.
    MicCheckViewController* micCheck() const { return micCheck_.get(); }
    BigLTCViewController* timecode() const { return timecode_.get(); }
    /// Opens the notebook window, made on first use and kept for the run: opening it while it
    /// is shown brings it forward.
    void openNotebook();
    /// The notebook window; null until it was first opened.
    NotebookViewController* notebook() const { return notebook_.get(); }
    /// The note sheet last opened by a long click in notebook mode; null before the first.
    AddNoteViewController* addNoteSheet() const { return addNote_.get(); }

    /// Opens the strip editor: one at a time, a new one for each opening (each opening rests
    /// the audio engine and fills the pop-ups anew); opening it while it is shown brings it
    /// forward.
    void openChannelStrips();
    void openChatMacros();
    ChatMacroViewController* chatMacros() const { return chatMacros_.get(); }
    /// The editor open now; null when none is.
    ChannelStripViewController* channelStrips() const { return channelStrips_.get(); }

  private:
    SegueTable segueTable();
    /// At the end of the run: the threads that read the shared objects stop before they go.
    void stopThreadsOfSharedObjects();

    // Every window of the application opens on the screen, frame included, and every modal
    // one stays above the others; both watch the windows made below.
    std::unique_ptr<WindowsOnScreen> windowsOnScreen_;
    std::unique_ptr<ModalStacking> modalStacking_;
    QtAlertPresenter alerts_;
    QtFilePanel files_;
    PanelServices panels_;
    ViewController* controller_ = nullptr;  // owned by the window
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegate> delegate_;
    // Held here: the segue that opens it keeps no window, and a window nobody holds closes.
    std::shared_ptr<SettingsTabViewController> settingsWindow_;
    std::unique_ptr<PlayerListViewController> playerList_;
    std::unique_ptr<MicCheckViewController> micCheck_;
    std::unique_ptr<BigLTCViewController> timecode_;
    std::unique_ptr<NotebookViewController> notebook_;
    std::unique_ptr<ChannelStripViewController> channelStrips_;
    std::unique_ptr<ChatMacroViewController> chatMacros_;
    // The sheet of the last long click, held while it is open.
    std::shared_ptr<AddNoteViewController> addNote_;
    std::weak_ptr<ChatNotifierViewController> chatNotifier_;
    std::shared_ptr<PlayerViewController> performerWindow_;
    // The main window controller holds the selector it opened last.
    std::weak_ptr<SnapshotSelectorViewController> snapshotSelector_;
};

}  // namespace quenbril
