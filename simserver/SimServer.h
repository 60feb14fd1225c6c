#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Value.h"
#include "simserver/SimChat.h"
#include "simserver/SimClient.h"
#include "simserver/SimNotebook.h"
#include "simserver/SimOptions.h"
#include "simserver/SimProduction.h"
#include "simserver/SimStreamPacer.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

namespace dispatch {
class Queue;
class TimerSource;
}  // namespace dispatch

/// The monitoring-server stand-in: listens for remotes, sends each the production's state when
/// it connects, then level frames ten times a second and the audio of the strips listened to
/// in small blocks two hundred times a second, and answers their commands. Everything runs on one
/// serial queue of its own; the sockets of the remotes do their work on another, shared by all.
class SimServer : public DispatchSocketDelegate, private SimClient::Owner {
  public:
    /// Seconds between two level frames.
    static constexpr double kTickInterval = 0.1;
    /// Remotes served at once; further connections are closed at once.
    static constexpr size_t kMaxClients = 64;

    explicit SimServer(const SimOptions& options);
    ~SimServer() override;
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    /// Listens on the options' port (all interfaces) and starts the ticks. Any thread.
    bool start(Error* error = nullptr);
    /// Closes every connection and the listener. Any thread; also done by the destructor.
    void stop();
    /// The port listened on (the one the system chose for port 0); 0 before start.
    uint16_t port() const { return port_; }
    /// Handles `message` as if the connected remote `remote` (numbered from 1 in the order
    /// of connection) had sent it, and returns once it is handled; false when no such remote
    /// is connected. For the fuzzer, which hands the commands over without framing them. Any
    /// thread but the server's queue.
    bool handleFromRemote(uint64_t remote, const Dictionary& message);

    /// The ticks (each one round of level frames) that fell due since the start, and those that
    /// ran: a tick held up by a busy queue runs once for all it missed. Any thread.
    uint64_t ticksDue() const { return ticksDue_.load(); }
    uint64_t ticksRun() const { return ticksRun_.load(); }

  private:
    using Handler = void (SimServer::*)(SimClient&, const Dictionary&);

    // Listener and clients.
    bool isFull() const { return clients_.size() >= kMaxClients; }
    std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Bytes& address, DispatchSocket* listener) override;
    void socketDidAcceptNewSocket(DispatchSocket* sock,
                                  std::shared_ptr<DispatchSocket> newSocket) override;
    /// Takes over a new connection that its peer has not closed, and sends it the initial state.
    void serve(std::shared_ptr<DispatchSocket> socket);
    void refuse(std::shared_ptr<DispatchSocket> socket);
    void clientHasFrames(SimClient& client) override;
    void clientDisconnected(SimClient& client, const std::optional<Error>& error) override;
    void drop(SimClient& client, const std::string& why);
    void handle(SimClient& client, const Dictionary& message);

    // Sending.
    std::shared_ptr<const Bytes> encode(const Dictionary& message);
    /// `state`: the whole state the frame repeats, if any (a waiting older copy is replaced).
    void sendFrame(SimClient& client, const std::shared_ptr<const Bytes>& frame,
                   std::string_view state = {});
    void send(SimClient& client, const Dictionary& message);
    void broadcast(const Dictionary& message);
    void broadcastFrame(const std::shared_ptr<const Bytes>& frame, std::string_view state = {});
    /// Whether a message of `bytes` that `client` sent may go on to the others; its first
    /// refusal is logged.
    bool mayRelay(SimClient& client, size_t bytes);
    /// mayRelay() for the message being handled, counted as it came.
    bool mayRelayInput(SimClient& client);
    /// Sends the initial state; its frames are encoded once for every remote that connects
    /// until something in them changes.
    void sendInitialState(SimClient& client);
    /// The initial state's frames, built anew when it changed since they were last built.
    const std::vector<std::pair<std::shared_ptr<const Bytes>, std::string>>& initialState();
    /// What the initial state holds may have changed: its frames are built anew for the next
    /// remote that connects.
    void initialStateChanged() { initialState_.clear(); }
    /// The group buttons' states, to every remote.
    void sendGroupStates();
    /// The whole state a "GroupStates" frame repeats: the group states since the last snapshot.
    std::string groupStatesKey() const;

    // The periodic part.
    /// A timer on the server's queue that runs `handler` every `interval` seconds until the
    /// server stops; the handler is given how many times the timer fired since it last ran.
    std::shared_ptr<dispatch::TimerSource> repeat(double interval,
                                                  std::function<void(uint64_t fires)> handler);
    void tick();
    void sendLevels(double t);
    void sendStream();
    void sendTimecode(double t);
    void sendBatteries(double t);
    void raiseSomeWarning();
    void moveToNextSnapshot(double t);
    double now() const;
    double absoluteNow() const;

    // Commands.
    void onClientID(SimClient&, const Dictionary&);
    void onSoloOn(SimClient&, const Dictionary&);
    void onRegisterToChat(SimClient&, const Dictionary&);
    void onChatMessageFromClient(SimClient&, const Dictionary&);
    void onChatRemoveMessage(SimClient&, const Dictionary&);
    void onChannelClicked(SimClient&, const Dictionary&);
    void onChannelLongClicked(SimClient&, const Dictionary&);
    void onChannelCheckClicked(SimClient&, const Dictionary&);
    void onHardMuteClicked(SimClient&, const Dictionary&);
    void onGroupClicked(SimClient&, const Dictionary&);
    void onGroupLongClicked(SimClient&, const Dictionary&);
    void onMarkerAdded(SimClient&, const Dictionary&);
    void onResetWarnings(SimClient&, const Dictionary&);
    void onClear(SimClient&, const Dictionary&);
    void onHardClear(SimClient&, const Dictionary&);
    void onStartStream(SimClient&, const Dictionary&);
    void onStopStream(SimClient&, const Dictionary&);
    void onPlaybackStarted(SimClient&, const Dictionary&);
    void onPlaybackStopped(SimClient&, const Dictionary&);
    void onRemoteAddedNote(SimClient&, const Dictionary&);
    void onRemoveTimelineEntry(SimClient&, const Dictionary&);
    void onRemoveAllTimelineEntries(SimClient&, const Dictionary&);
    void sendSoloState();
    std::string userName(const SimClient& client) const;

    SimOptions options_;
    std::shared_ptr<dispatch::Queue> queue_;
    /// The socket queue of every connection.
    std::shared_ptr<dispatch::Queue> connectionsQueue_;
    std::shared_ptr<DispatchSocket> listener_;
    std::shared_ptr<dispatch::TimerSource> ticker_;
    std::shared_ptr<dispatch::TimerSource> streamer_;
    std::map<std::string, Handler, std::less<>> handlers_;
    std::map<uint64_t, std::unique_ptr<SimClient>> clients_;
    /// Expires when the server stops: blocks still queued then do nothing.
    std::shared_ptr<int> alive_;
    uint64_t nextClientID_ = 1;
    /// Bytes of the frame of the message being handled.
    size_t inputBytes_ = 0;
    uint16_t port_ = 0;
    double startTime_ = 0;  // monotonic seconds
    uint64_t ticks_ = 0;
    std::atomic<uint64_t> ticksDue_{0}, ticksRun_{0};
    SimStreamPacer stream_;
    uint32_t random_ = 12345;
    /// When the next snapshot becomes active (seconds since the start); with no interval, never.
    double nextSnapshotAt_ = 0;
    /// Snapshots made active since the start.
    uint64_t snapshotChanges_ = 0;

    /// The initial state's frames, each with the whole state it repeats (see sendFrame()); empty
    /// when they are to be built anew.
    std::vector<std::pair<std::shared_ptr<const Bytes>, std::string>> initialState_;

    SimProduction production_;
    SimChat chat_;
    SimNotebook notebook_;
    /// The notebook changed since it was last sent to every remote.
    bool notebookChanged_ = false;
};

}  // namespace quenbril
