#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/NotificationCenter.h"

namespace quenbril {

class ChannelStripManager;
class ClientManager;
class LinkSender;
class NotebookManager;
class PELAudioEngine;
class SegueRouter;
class ServerMessageDispatcher;
class TitledButton;
class UserDefaults;
class UserSettingsManager;

/// The main window's user actions that become commands to the server, or changes of the
/// settings, the engine and the panels: the strips' clicks, the mic-check keys, chat lines,
/// MIDI macros and the header's buttons. The windows they open go through the segue router.
/// Main thread only.
class MainWindowActions {
  public:
    /// The indicators the actions turn off.
    class Window {
      public:
        virtual ~Window() = default;
        virtual void setResetAlarm(bool on) = 0;
        virtual void setChatAlarm(bool on) = 0;
    };

    struct Services {
        PELAudioEngine& engine;
        ChannelStripManager& strips;
        NotebookManager& notebook;
        UserDefaults& defaults;
        NotificationCenter& notifications;
        std::function<UserSettingsManager&()> settings;
        /// The server role's host, null while this station runs none.
        std::function<ClientManager*()> host;
        LinkSender& sender;
    };

    MainWindowActions(Services services, SegueRouter& segues,
                      const ServerMessageDispatcher& dispatcher, Window& window);
    MainWindowActions(const MainWindowActions&) = delete;
    MainWindowActions& operator=(const MainWindowActions&) = delete;

    /// Registers the observers of the strip, mic-check, chat-line and MIDI notifications.
    void addObservers();

    void csClicked(const Notification& notification);
    void csLongClicked(const Notification& notification);
    void csChecked(const Notification& notification);
    void hardMuteClicked(const Notification& notification);
    void micCheckKeyClicked(const Notification& notification);
    void chatMessage(const Notification& notification);
    void MIDIEventReceived(const Notification& notification);
    /// The server's whole state is in: a clicked channel the server no longer has on (a server
    /// started afresh) is forgotten, and the quick-message button that names it shows what the
    /// server has on, as at start.
    void serverStateReceived();

    void addMarker();
    void resetClicked();
    void soloClearClicked();
    void soloHardClearClicked();
    void startStream();
    void stopStream();
    void startEngine();
    void stopEngine();
    /// Returns the engine's new mute state.
    bool toggleMute();
    bool isMuted() const;
    void selectedTool(int segment);
    void panelButtonClicked();
    void clearChat();
    /// The header's buttons by title.
    void titledButtonClicked(TitledButton& button);
    void titledButtonLongClicked(TitledButton& button);
    void registerToChat();
    /// "RegisterToChat" with a fresh message id, as the chat settings' save sends it.
    void registerNewChatName();
    void send(const Dictionary& message);

    /// The panel shown: 0 (A) or 1 (B).
    int32_t currentPanel() const { return currentPanel_; }
    void resetPanel() { currentPanel_ = 0; }

  private:
    Services services_;
    SegueRouter& segues_;
    const ServerMessageDispatcher& dispatcher_;
    Window& window_;
    int32_t currentPanel_ = 0;
    std::vector<NotificationObserver> observers_;
};

}  // namespace quenbril
