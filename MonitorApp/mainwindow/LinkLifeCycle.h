#pragma once

#include <functional>

#include "foundation/Timer.h"

namespace quenbril {

class ChannelStripManager;
class LinkSender;
class ServerManager;
class ServerManagerDelegate;
class UserDefaults;
class UserSettingsManager;

/// The server link's life cycle as the main window drives it: the connection timer (on the
/// main run loop's clock), what a connection and a drop do, and the new connection that
/// follows a drop the window asked for. Main thread only.
class LinkLifeCycle {
  public:
    /// Seconds between the connection timer's attempts.
    static constexpr double kConnectionInterval = 5.0;

    /// What the window shows as the link comes and goes.
    class Window {
      public:
        virtual ~Window() = default;
        virtual void updateStatusMessage() = 0;
        /// A connection while the connection dialog is open only updates the dialog: true when
        /// the dialog was open and took it.
        virtual bool connectionDialogTookConnection() = 0;
        virtual void connectionDialogDiscoveryUnavailable() = 0;
        /// The strips went off with the link: the strip area shows they are not live.
        virtual void setStripsLive(bool live) = 0;
    };

    struct Services {
        std::function<UserSettingsManager&()> settings;
        std::function<ServerManager&()> link;
        UserDefaults& defaults;
        /// Its strips go off when the link drops.
        ChannelStripManager& strips;
        /// Where "ClientID" and "SoloOn" go, on the connection as it comes up.
        LinkSender& sender;
    };

    LinkLifeCycle(Services services, Window& window);
    /// Clears the link's delegate if attach set it and it is still the one.
    ~LinkLifeCycle();
    LinkLifeCycle(const LinkLifeCycle&) = delete;
    LinkLifeCycle& operator=(const LinkLifeCycle&) = delete;

    /// Starts the connection timer.
    void startTimer();
    bool isTimerRunning() const { return timer_.isValid(); }
    /// The timer's attempt: asks the link to connect while the client role (or chat mode 1)
    /// is on and the link is down.
    void tryConnection();
    /// Makes `delegate` the link's delegate (until this goes) and starts an attempt.
    void attach(ServerManagerDelegate& delegate);
    bool isConnected() const;
    /// Connected, and the server's state received since: what the status line, the strip
    /// area's cover and the sending of the user's commands follow.
    bool serverIsHere() const;

    void connectedToServer();
    void disconnectedFromServer();
    /// The server's "InitialDataReady" was handled: once it made the server here, the status
    /// line says so and the strips are live.
    void serverStateReceived();
    void discoveryUnavailable();
    /// The client role was confirmed: when the link came up before the role was set, the
    /// server's state went by unused, so the link is dropped and made again at once (and the
    /// reconnection sends the client id); otherwise the client id goes now.
    void clientStarted();
    /// Sends "ClientID" with the stored client id, if one is stored, on the live connection.
    void sendStoredClientID();

  private:
    /// Drops the link; disconnectedFromServer makes it again.
    void relink();

    Services services_;
    Window& window_;
    Timer timer_;
    ServerManagerDelegate* attached_ = nullptr;
    // The live link came up while the remote role was off, so the dispatcher dropped the
    // state the server sends at connection.
    bool linkUpWithoutRemoteRole_ = false;
    // The window dropped the link to make it again.
    bool relinking_ = false;
};

}  // namespace quenbril
