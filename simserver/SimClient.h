#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "MonitorApp/link/LinkClientWriter.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/link/LinkProgressDeadline.h"
#include "simserver/SimRelayAllowance.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

/// One remote connected to the stand-in: its socket, the frames it sends, the bytes waiting to
/// go out to it, and what it asked for. Lives on the server's queue, which is its socket's
/// delegate queue.
class SimClient : public DispatchSocketDelegate {
  public:
    /// A write that moves no byte for this many seconds closes the connection.
    static constexpr double kWriteTimeout = 5.0;
    /// A remote that lets more than this many bytes pile up is not reading: it is dropped.
    static constexpr size_t kMaxQueuedBytes = LinkClientWriter::kMaxQueuedBytes;

    class Owner {
      public:
        virtual ~Owner() = default;
        /// New frames are waiting (takeFrame), or the reader failed (readFailed). The client
        /// reads no more until the owner calls readMore().
        virtual void clientHasFrames(SimClient& client) = 0;
        virtual void clientDisconnected(SimClient& client, const std::optional<Error>& error) = 0;
    };

    /// `clock` answers the server's time in seconds (monotonic); a frame begun must not go
    /// `frameTimeout` seconds without a byte.
    SimClient(uint64_t id, std::shared_ptr<DispatchSocket> socket, Owner* owner,
              std::function<double()> clock, double frameTimeout);
    ~SimClient() override;

    uint64_t id() const { return id_; }
    /// "host:port" of the remote.
    const std::string& address() const { return address_; }
    const std::string& host() const { return host_; }
    /// False from the start when the peer had closed before this object could take the socket
    /// over: it then never took it over, and may be let go on any thread (on the socket's
    /// queue, its socket closes without waiting for that queue).
    bool isOpen() const { return open_; }

    /// Whether the peer of a connection has closed it already, by what the kernel holds for it
    /// now: a reset, a hang-up, or the end of its stream with nothing before it. The socket
    /// itself learns of a close only as its turn comes to read. On the socket's queue.
    static bool peerHasClosed(DispatchSocket& socket);

    /// Most bytes taken from the socket at once: a remote's input waits in its own connection
    /// rather than here.
    static constexpr size_t kMaxReadBytes = 64 * 1024;

    /// Starts reading.
    void start() { readMore(); }
    /// Reads on. The owner calls it once it has taken every complete frame: until then nothing
    /// more is read, so a remote that sends faster than its frames are handled is held back by
    /// its own connection. The time-out of a frame begun counts from here again.
    void readMore();
    /// Queues a frame; false (and nothing queued) when the remote has too much waiting already.
    /// A frame of a whole `state` replaces a copy of that state still waiting.
    bool send(const std::shared_ptr<const Bytes>& frame, std::string_view state = {});
    size_t queuedBytes() const { return writer_.queuedBytes(); }
    /// Closes the connection; the owner still hears of the disconnection.
    void close();

    std::optional<LinkFrame> takeFrame() { return reader_.takeFrame(); }
    bool hasFrame() const { return reader_.hasFrame(); }
    bool readFailed() const { return reader_.failed(); }
    const Error& readError() const { return reader_.error(); }
    /// True when a frame is in progress, is being read, and its last bytes came more than the
    /// frame time-out before `now`.
    bool readStalled(double now) const;

    // What the remote asked for.
    bool streaming = true;
    /// The strip being replayed, and how far behind live, in samples; 0 for none.
    int64_t playbackCSID = 0;
    int64_t playbackDelay = 0;
    std::optional<int32_t> clientID;
    /// Single solo ("SoloOn"): a click moves the solo instead of adding one. Until the remote
    /// says, its default: on.
    std::optional<bool> soloOn;

    /// What of this remote's messages the server may still relay to the others.
    SimRelayAllowance relayAllowance;

  private:
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidWriteDataWithTag(DispatchSocket* sock, long tag) override;
    void socketDidWritePartialDataOfLength(DispatchSocket* sock, size_t length, long tag) override;
    std::optional<double> socketShouldTimeoutWriteWithTag(DispatchSocket* sock, long tag,
                                                          double elapsed,
                                                          size_t bytesDone) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

    uint64_t id_;
    std::shared_ptr<DispatchSocket> socket_;
    Owner* owner_;
    std::string host_, address_;
    bool open_ = true;
    /// A read is queued on the socket.
    bool reading_ = false;
    LinkFrameReader reader_{LinkPeer::Server};
    /// When the last bytes of the frame in progress came; none between frames.
    std::optional<double> frameBytesAt_;
    std::function<double()> clock_;
    double frameTimeout_;
    LinkClientWriter writer_;
    LinkProgressDeadline writeProgress_{kWriteTimeout};
};

}  // namespace quenbril
