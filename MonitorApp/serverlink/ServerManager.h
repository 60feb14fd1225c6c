#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/link/LinkProgressDeadline.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/serverlink/ServerManagerDelegate.h"
#include "foundation/Timer.h"
#include "foundation/Value.h"
#include "platform/discovery/ServiceBrowser.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class DispatchSocket;

/// The remote's one connection to the monitoring server. It finds the server by browsing for
/// the service "_<qbIdentifier>._tcp." or takes the manual address of the user defaults,
/// connects, reads frames for the life of the connection and hands every decoded message to
/// its delegate, and sends every command of the program (`sendDictionary`).
///
/// In discovery mode it reconnects by itself: every drop or failed attempt moves on to the next
/// resolved address, never starting an attempt less than a second after the previous one
/// started. The first service found is the server for the whole run. It is resolved once the
/// search has reported its first batch (so that its announcements on every interface and family
/// are in), and again whenever every address of the list has failed in turn. In manual mode an
/// attempt that gets no answer is given up after kManualConnectTimeout, and the callers' timers
/// retry through tryToConnect().
///
/// Main thread only: the socket and the browser report on the main queue.
class ServerManager final : public DispatchSocketDelegate,
                            public ServiceBrowser::Delegate,
                            public LinkSender {
  public:
    static constexpr uint16_t kDefaultPort = 57576;
    /// Seconds each write of the link may take, and each read may go without a byte: a frame
    /// that keeps arriving over a slow link is read to its end.
    static constexpr double kIOTimeout = 5.0;
    /// Seconds a discovery-mode connect may take.
    static constexpr double kConnectTimeout = 1.0;
    /// Seconds a connect to the manual address may take. A host that neither answers nor
    /// refuses would otherwise hold the link in "connecting" for the kernel's two minutes.
    static constexpr double kManualConnectTimeout = 5.0;
    /// The least time between the starts of two discovery-mode attempts.
    static constexpr double kMinAttemptInterval = 1.0;
    /// Read tags: the header, and the body of a frame.
    static constexpr long kHeaderTag = 100;
    static constexpr long kBodyTag = 123;
    static constexpr long kBodyWriteTag = 101;

    static ServerManager& sharedInstance();
    /// Tests: drops the shared instance (closing its connection); the next sharedInstance()
    /// makes a new one.
    static void resetSharedInstance();

    ServerManager();
    ~ServerManager() override;
    ServerManager(const ServerManager&) = delete;
    ServerManager& operator=(const ServerManager&) = delete;

    /// Starts or continues an attempt in the mode the user defaults name ("useManualIP").
    void tryToConnect();
    /// The socket's own state.
    bool isConnected() const;
    /// The flag the link's callbacks keep.
    bool connected() const { return connected_; }
    /// The server is here: the link is up and the server's state has come in since it came up
    /// ("InitialDataReady"). A server that hangs still takes connections (the kernel accepts
    /// them for it), so a connection alone says nothing. The status line, the strip area's
    /// cover and every user's command follow this.
    bool serverIsHere() const { return connected_ && stateReceived_; }
    /// Frames one message (marker 0) and queues it on the socket of the live link. While the
    /// server is not here (link down, connecting, or connected and its state not in) nothing
    /// is sent and nothing is kept for later: a click or a chat line that reached the server
    /// late would change the show behind the user's back. A message that cannot be encoded, or
    /// is over the frame cap, is dropped with a log line.
    void sendDictionary(const Dictionary& message) override;
    /// Sends on any live link, the server's state in or not: the message belongs to this
    /// connection and goes with it.
    void sendOnConnection(const Dictionary& message) override;
    /// serverIsHere(); the first refusal of each outage is logged.
    bool maySend() override;
    void disconnect();
    void connectToNextAddress();
    void connectToManualAddress(const std::string& address);
    /// Writes `text` and CR LF as UTF-8 on the live link, without a time-out; nothing while the
    /// link is down, as sendDictionary.
    void sendMessage(const std::string& text);
    /// Connects a second socket to `host` for an audio stream.
    void startStream();

    const std::optional<std::string>& manualIP() const { return manualIP_; }
    void setManualIP(std::optional<std::string> ip) { manualIP_ = std::move(ip); }
    const std::optional<std::string>& previousManualIP() const { return previousManualIP_; }
    void setPreviousManualIP(std::optional<std::string> ip) { previousManualIP_ = std::move(ip); }
    const std::string& host() const { return host_; }
    void setHost(std::string host) { host_ = std::move(host); }
    /// Not owned; the delegate clears it before it goes away.
    ServerManagerDelegate* delegate() const { return delegate_; }
    void setDelegate(ServerManagerDelegate* delegate) { delegate_ = delegate; }

    // ---- Set-up for tests and other ports ----
    /// The port of manual addresses (57576 unless set).
    uint16_t port() const { return port_; }
    void setPort(uint16_t port) { port_ = port; }
    /// Seconds each read may go without a byte (5.0 unless set).
    void setReadTimeout(double seconds) { readProgress_.setTimeout(seconds); }
    /// Seconds each write may go without a byte taken (5.0 unless set).
    void setWriteTimeout(double seconds) { writeProgress_.setTimeout(seconds); }
    /// Seconds a connect to the manual address may take (kManualConnectTimeout unless set).
    void setManualConnectTimeout(double seconds) { manualConnectTimeout_ = seconds; }
    /// The browser for discovery; made with the Avahi backend on the first discovery attempt
    /// unless one was set before.
    void setServiceBrowser(std::unique_ptr<ServiceBrowser> browser);
    /// The resolved addresses, none before the first resolution.
    const std::optional<std::vector<Bytes>>& serverAddresses() const { return serverAddresses_; }
    const std::optional<std::string>& serverService() const { return serverService_; }
    bool isConnecting() const { return connecting_; }

    // ---- ServiceBrowser::Delegate ----
    void serviceFound(const std::string& name) override;
    void firstBatchComplete() override;
    void serviceResolved(const ResolvedService& service) override;
    void serviceRemoved(const std::string& name) override;
    void browseFailed(const Error& error) override;
    void resolveFailed(const std::string& name, const Error& error) override;

    // ---- DispatchSocketDelegate ----
    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidReadPartialDataOfLength(DispatchSocket* sock, size_t length, long tag) override;
    std::optional<double> socketShouldTimeoutReadWithTag(DispatchSocket* sock, long tag,
                                                         double elapsed, size_t bytesDone) override;
    void socketDidWriteDataWithTag(DispatchSocket* sock, long tag) override;
    void socketDidWritePartialDataOfLength(DispatchSocket* sock, size_t length, long tag) override;
    std::optional<double> socketShouldTimeoutWriteWithTag(DispatchSocket* sock, long tag,
                                                          double elapsed,
                                                          size_t bytesDone) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

  private:
    void readHeader();
    void handleHeader(const Bytes& data);
    void handleBody(const Bytes& data);
    /// Notes the server's "InitialDataReady": from then on the server is here.
    void noteStateReceived(const Value& message);
    void sendConnectMessage(const std::string& text);
    /// Frames `message` and queues it on the socket.
    void write(const Dictionary& message);
    /// Keeps whether the socket took an attempt; one it refused to start closes the socket.
    void attemptStarted(bool started, const Error& error);
    /// Starts the search for the service type of the settings, replacing any earlier one.
    void startSearch();
    /// Asks the browser for the addresses of the chosen service, unless it is already asked.
    void resolveServerService();

    std::unique_ptr<ServiceBrowser> netServiceBrowser_;
    std::optional<std::string> serverService_;
    std::optional<std::vector<Bytes>> serverAddresses_;
    std::shared_ptr<DispatchSocket> asyncSocketStream_;
    std::shared_ptr<DispatchSocket> asyncSocket_;
    bool connecting_ = false;
    int32_t counter_ = 0;
    bool connected_ = false;
    /// "InitialDataReady" came on the live link.
    bool stateReceived_ = false;
    /// A send was refused since the server was last here.
    bool refusedSendLogged_ = false;
    std::optional<std::string> manualIP_;
    std::optional<std::string> previousManualIP_;
    ServerManagerDelegate* delegate_ = nullptr;
    std::string host_;

    uint16_t port_ = kDefaultPort;
    /// The reads' time-out, counted from the last bytes that came.
    LinkProgressDeadline readProgress_{kIOTimeout};
    /// The writes' time-out, counted from the last bytes the server took.
    LinkProgressDeadline writeProgress_{kIOTimeout};
    double manualConnectTimeout_ = kManualConnectTimeout;
    /// A search is running: started, and not reported failed.
    bool searching_ = false;
    /// The current search has reported its first batch of services.
    bool firstBatchDone_ = false;
    /// The chosen service is to be resolved: it never was, or every address failed in turn.
    bool needsResolution_ = true;
    /// A resolution of serverService_ is under way.
    bool resolving_ = false;
    /// Discovery-mode attempts started since the last connection or the last new address list.
    size_t roundAttempts_ = 0;
    /// Run-loop time the last discovery-mode attempt started.
    std::optional<double> lastAttemptStart_;
    /// The next discovery-mode attempt, when it had to wait.
    Timer pacingTimer_;
};

}  // namespace quenbril
