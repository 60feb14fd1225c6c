#pragma once

#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"

class QAction;
class QMenu;
class QMenuBar;

namespace quenbril {

class AlertPresenter;
class FilePanel;
class ViewController;

/// The application delegate: builds the main menu, keeps the chat menu's quick-message titles
/// in step with the stored quick messages, and carries out the menu's actions, most of them on
/// the main window controller, two of them on the settings file. Main thread only.
///
/// Shortcuts use Ctrl only, so that plain letters and arrows stay with the level display.
class AppDelegate {
  public:
    /// Quick messages in the chat menu; its first items.
    static constexpr int kQuickMessageItems = 7;
    /// Chat menu tags of the page and clear-chat items.
    static constexpr int kPageTag = 10;
    static constexpr int kClearChatTag = 11;

    /// Fills `menuBar`. The alerts and the panels outlive the delegate.
    AppDelegate(QMenuBar& menuBar, AlertPresenter& alerts, FilePanel& files);
    ~AppDelegate();

    /// Chat menu titles, kept in step with "ChatMessagesChanged" from now on; a settings file
    /// the store had to set aside, or could not read, is told in an alert over the main window.
    void applicationDidFinishLaunching();
    /// Titles the quick-message items `Send "<text>"` from the stored quick messages, storing
    /// the default text of each that is missing. Nothing while the chat menu has fewer than 8
    /// items.
    void updateChatMenu();
    /// The main window's controller: the one found before, else the one the strip manager
    /// knows (it sets itself there as it loads). None before the main window has loaded; the
    /// actions that need it then do nothing.
    ViewController* getMainVC();

    /// The lock itself, told whether to lock; the menu item only keeps its title.
    void setLockHandler(std::function<void(bool)> handler) { lockHandler_ = std::move(handler); }
    /// The tool selector's selection of tool 0 (selection), 1 (selection zoom) or 2 (zoom).
    void setToolHandler(std::function<void(int)> handler) { toolHandler_ = std::move(handler); }
    /// Opens the player list (or brings it forward).
    void setPlayersHandler(std::function<void()> handler) { playersHandler_ = std::move(handler); }
    /// Open the mic-check window and the large timecode window (or bring them forward).
    void setMicCheckWindowHandler(std::function<void()> handler) {
        micCheckWindowHandler_ = std::move(handler);
    }
    void setTimecodeWindowHandler(std::function<void()> handler) {
        timecodeWindowHandler_ = std::move(handler);
    }
    /// Opens the notebook window ("Notebook…").
    void setNotebookHandler(std::function<void()> handler) {
        notebookHandler_ = std::move(handler);
    }
    /// Opens the MIDI macro editor ("MIDI Macros…" of the chat menu); without one nothing opens.
    void setChatMacrosHandler(std::function<void()> handler) {
        chatMacrosHandler_ = std::move(handler);
    }
    /// Opens the strip editor ("Channel Strips…"); without one the main window's segue runs.
    void setChannelStripsHandler(std::function<void()> handler) {
        channelStripsHandler_ = std::move(handler);
    }
    /// Quit: by default the end of the application's run loop, whatever windows are open.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

    // ---- Menu actions; `sender` is the item chosen ----
    void lockClicked(QAction& sender);
    void toggleMute(QAction& sender);
    /// By the item's tag: 1-7 sends that quick message, 10 pages, 11 clears the chat, 0 sends
    /// the last clicked strip's text.
    void chatButtonClick(QAction& sender);
    void showSnapshotsClicked();
    void openChannelStrips();
    void playersClicked();
    void addMarkerClicked();
    void selectionClicked();
    void selectionZoomClicked();
    void zoomClicked();
    void soloClearClicked();
    void resetAlertsClicked();
    /// Mic-check mode and notebook mode exclude each other.
    void micCheckModeClicked(QAction& sender);
    void notebookModeClicked(QAction& sender);
    void hardMuteClicked(QAction& sender);
    void preferencesClicked();
    void exportUserPreferences();
    void importUserPreferences();

    // ---- The menu ----
    QMenu* chatMenu() const { return chatMenu_; }
    QAction* lockItem() const { return lockItem_; }
    QAction* muteItem() const { return muteItem_; }
    QAction* hardMuteItem() const { return hardMuteItem_; }
    QAction* notebookModeItem() const { return notebookModeItem_; }
    QAction* micCheckItem() const { return micCheckItem_; }
    /// The item whose text is `title`, in any menu; null when there is none.
    QAction* itemTitled(const std::string& title) const;
    /// The items that send to the server or change the show: they (and their keys) rest
    /// while the interface is locked, as the buttons that do the same are disabled.
    const std::vector<QAction*>& lockedItems() const { return lockedItems_; }

  private:
    void buildMenus();
    /// Tag of a menu item (0 when it has none).
    static int tag(const QAction& item);
    /// Posts "ChatMessage" from this station to everyone.
    void postChatMessage(const std::string& message, unsigned type);
    /// The lock came on (true) or went: the locked items follow.
    void locked(bool on);
    /// Tells the user, once, of a settings file that was set aside or cannot be read.
    void reportSettingsFileTrouble();

    QMenuBar& menuBar_;
    // Cleared by Qt when the window goes.
    QPointer<ViewController> viewController_;
    AlertPresenter& alerts_;
    FilePanel& files_;
    QMenu* chatMenu_ = nullptr;
    QAction* lockItem_ = nullptr;
    QAction* muteItem_ = nullptr;
    QAction* hardMuteItem_ = nullptr;
    QAction* notebookModeItem_ = nullptr;
    QAction* micCheckItem_ = nullptr;
    std::function<void(bool)> lockHandler_;
    std::function<void(int)> toolHandler_;
    std::function<void()> quitHandler_;
    std::function<void()> playersHandler_;
    std::function<void()> micCheckWindowHandler_;
    std::function<void()> timecodeWindowHandler_;
    std::function<void()> notebookHandler_;
    std::function<void()> channelStripsHandler_;
    std::function<void()> chatMacrosHandler_;
    NotificationObserver chatMessagesChanged_;
    NotificationObserver lockObserver_;
    std::vector<QAction*> lockedItems_;
};

}  // namespace quenbril
