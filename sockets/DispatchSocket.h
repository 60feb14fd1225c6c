#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Value.h"
#include "sockets/DispatchSocketDelegate.h"
#include "sockets/DispatchSocketPreBuffer.h"

struct sockaddr_in;
struct sockaddr_in6;
struct sockaddr_un;

namespace quenbril {

namespace dispatch {
class Queue;
class Source;
class DescriptorSource;
class TimerSource;
}  // namespace dispatch
class DispatchSocketPacket;
class DispatchReadPacket;
class DispatchWritePacket;
class TLSEngine;

/// A TCP (or Unix-domain stream) socket driven by dispatch queues: one listener or one
/// connection. Its state lives on a private serial queue (the socket queue); callers queue
/// connects, reads and writes and hear of each result through `DispatchSocketDelegate`, called
/// asynchronously on the delegate queue (the main queue for every user here).
///
/// The socket queue may also be the main queue (the server link's socket): then the main loop
/// watches the descriptor and does all of the socket's work, with no other thread involved but
/// for its real-time time-outs; whatever waits for the socket must let the main loop run.
///
/// Getters and the calls that answer (connect, accept, disconnect) wait for the socket queue,
/// or run directly when already on it; reads, writes and the deferred disconnects are queued.
/// Made only through `make`; destroying a started socket closes it and tells the delegate with
/// a null socket.
///
/// Socket addresses are byte buffers holding a whole `sockaddr_in` (16 bytes) or
/// `sockaddr_in6` (28 bytes); Unix-domain sockets are named by a file-system path. Ports are in
/// host order; a negative time-out means none.
class DispatchSocket : public std::enable_shared_from_this<DispatchSocket> {
    struct Passkey {};

  public:
    using QueuePtr = std::shared_ptr<dispatch::Queue>;

    static constexpr const char* kErrorDomain = "DispatchSocketErrorDomain";
    static constexpr const char* kNetDBErrorDomain = "kCFStreamErrorDomainNetDB";
    /// The description of the `ReadTimeoutError` that ends a handshake past its deadline.
    static constexpr const char* kTLSHandshakeTimedOut = "TLS handshake timed out";
    static constexpr const char* kSSLErrorDomain = "kCFStreamErrorDomainSSL";
    enum ErrorCode : int64_t {
        NoError = 0,
        BadConfigError = 1,
        BadParamError = 2,
        ConnectTimeoutError = 3,
        ReadTimeoutError = 4,
        WriteTimeoutError = 5,
        ReadMaxedOutError = 6,
        ClosedError = 7,
        OtherError = 8,
    };

    // ---- creation (model) ----
    static std::shared_ptr<DispatchSocket> make();
    static std::shared_ptr<DispatchSocket> make(QueuePtr socketQueue);
    static std::shared_ptr<DispatchSocket> make(DispatchSocketDelegate* delegate,
                                                QueuePtr delegateQueue,
                                                QueuePtr socketQueue = nullptr);
    DispatchSocket(Passkey, DispatchSocketDelegate* delegate, QueuePtr delegateQueue,
                   QueuePtr socketQueue);
    ~DispatchSocket();
    DispatchSocket(const DispatchSocket&) = delete;
    DispatchSocket& operator=(const DispatchSocket&) = delete;

    // ---- configuration and state (model) ----
    DispatchSocketDelegate* delegate() const;
    QueuePtr delegateQueue() const;
    void getDelegate(DispatchSocketDelegate** delegate, QueuePtr* delegateQueue) const;
    void setDelegate(DispatchSocketDelegate* delegate);
    void setDelegateQueue(QueuePtr delegateQueue);
    void setDelegate(DispatchSocketDelegate* delegate, QueuePtr delegateQueue);
    void synchronouslySetDelegate(DispatchSocketDelegate* delegate);
    void synchronouslySetDelegateQueue(QueuePtr delegateQueue);
    void synchronouslySetDelegate(DispatchSocketDelegate* delegate, QueuePtr delegateQueue);

    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool flag);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool flag);
    bool isIPv4PreferredOverIPv6() const;
    void setIPv4PreferredOverIPv6(bool flag);
    bool autoDisconnectOnClosedReadStream() const;
    void setAutoDisconnectOnClosedReadStream(bool flag);
    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> data);

    bool isDisconnected() const;
    bool isConnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isSecure() const;

    /// Runs `block` on the socket queue and waits for it.
    void performBlock(const std::function<void()>& block);
    /// Marks (unmarks) a queue that targets the socket queue, so that code running there
    /// counts as running on the socket queue.
    void markSocketQueueTargetQueue(const QueuePtr& queue);
    void unmarkSocketQueueTargetQueue(const QueuePtr& queue);
    /// Descriptors: only on the socket queue (inside performBlock); -1 elsewhere.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    /// The TLS session: only on the socket queue, and none before TLS starts; none elsewhere.
    TLSEngine* sslContext() const;

    /// Closes at once (a started socket tells its delegate, with no error).
    void disconnect();
    /// Closes once the queued reads (writes, both) are done; later reads and writes are dropped.
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();

    // ---- connecting and accepting ----
    bool connectToHost(const std::string& host, uint16_t port, Error* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, double timeout,
                       Error* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, const std::string& interface,
                       double timeout, Error* error = nullptr);
    bool connectToAddress(const Bytes& address, Error* error = nullptr);
    bool connectToAddress(const Bytes& address, double timeout, Error* error = nullptr);
    bool connectToAddress(const Bytes& address, const std::string& interface, double timeout,
                          Error* error = nullptr);
    /// Connects to the Unix-domain socket at `path`.
    bool connectToUrl(const std::string& path, double timeout, Error* error = nullptr);

    bool acceptOnPort(uint16_t port, Error* error = nullptr);
    /// `interface`: "" for all, a name ("lo"), an address text, "localhost"; "name:port" too.
    bool acceptOnInterface(const std::string& interface, uint16_t port, Error* error = nullptr);
    /// Listens on a Unix-domain socket at `path` (an existing file there is replaced).
    bool acceptOnUrl(const std::string& path, Error* error = nullptr);

    // ---- reading and writing ----
    void readDataWithTimeout(double timeout, long tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                             long tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer, size_t offset,
                             size_t maxLength, long tag);
    void readDataToLength(size_t length, double timeout, long tag);
    void readDataToLength(size_t length, double timeout, std::shared_ptr<Bytes> buffer,
                          size_t offset, long tag);
    void readDataToData(const Bytes& term, double timeout, long tag);
    void readDataToData(const Bytes& term, double timeout, std::shared_ptr<Bytes> buffer,
                        size_t offset, long tag);
    void readDataToData(const Bytes& term, double timeout, size_t maxLength, long tag);
    void readDataToData(const Bytes& term, double timeout, std::shared_ptr<Bytes> buffer,
                        size_t offset, size_t maxLength, long tag);
    /// Queues a write of `data` (taken over; empty data is ignored).
    void writeData(Bytes data, double timeout, long tag);
    void writeData(std::shared_ptr<const Bytes> data, double timeout, long tag);
    /// Switches the stream to TLS once everything queued before has been read and written;
    /// later reads and writes travel encrypted. `settings` take the keys of `TLSEngine`. Dropped
    /// when the socket is not started, is closing, or already has a switch queued. A handshake
    /// not done `timeout` seconds after it began (none when negative) closes the socket with
    /// `ReadTimeoutError`, its one outcome.
    void startTLS(Dictionary settings = {}, double timeout = -1);
    /// Progress of the current read (write): the fraction done, NaN when none is current.
    float progressOfReadReturningTag(long* tag, uint64_t* done, uint64_t* total) const;
    float progressOfWriteReturningTag(long* tag, uint64_t* done, uint64_t* total) const;

    // ---- addresses ----
    /// The addresses of `host` (IPv4 and IPv6 only, in the resolver's order); "localhost" and
    /// "loopback" give 127.0.0.1 and ::1 without asking the resolver. Blocking.
    static std::optional<std::vector<Bytes>> lookupHost(const std::string& host, uint16_t port,
                                                        Error* error = nullptr);
    static std::string hostFromSockaddr4(const sockaddr_in& address);
    static std::string hostFromSockaddr6(const sockaddr_in6& address);
    static uint16_t portFromSockaddr4(const sockaddr_in& address);
    static uint16_t portFromSockaddr6(const sockaddr_in6& address);
    static std::string urlFromSockaddrUN(const sockaddr_un& address);
    static std::optional<std::string> hostFromAddress(const Bytes& address);
    static uint16_t portFromAddress(const Bytes& address);
    static bool isIPv4Address(const Bytes& address);
    static bool isIPv6Address(const Bytes& address);
    static bool getHost(std::string* host, uint16_t* port, const Bytes& address);
    static bool getHost(std::string* host, uint16_t* port, int* family, const Bytes& address);
    static const Bytes& CRLFData();
    static const Bytes& CRData();
    static const Bytes& LFData();
    static const Bytes& ZeroData();

    std::optional<std::string> connectedHost() const;
    uint16_t connectedPort() const;
    std::optional<std::string> connectedUrl() const;
    std::optional<std::string> localHost() const;
    uint16_t localPort() const;
    /// Per family, without a hop: for use on the socket queue.
    std::optional<std::string> connectedHost4() const;
    std::optional<std::string> connectedHost6() const;
    uint16_t connectedPort4() const;
    uint16_t connectedPort6() const;
    std::optional<std::string> localHost4() const;
    std::optional<std::string> localHost6() const;
    uint16_t localPort4() const;
    uint16_t localPort6() const;
    std::optional<Bytes> connectedAddress() const;
    std::optional<Bytes> localAddress() const;

    /// The bind addresses for an interface description ("lo", "127.0.0.1", "localhost",
    /// ":8080", "lo:8080") and a port; either may stay empty.
    static void getInterfaceAddress(Bytes* address4, Bytes* address6,
                                    const std::string& description, uint16_t port);
    /// A `sockaddr_un` for `path`; none when the path is empty or too long for the address.
    static std::optional<Bytes> getInterfaceAddressFromUrl(const std::string& path);

    // ---- errors ----
    static Error badConfigError(const std::string& message);
    static Error badParamError(const std::string& message);
    static Error gaiError(int resolverCode);
    static Error sslError(int status);
    static Error connectTimeoutError();
    static Error readMaxedOutError();
    static Error readTimeoutError();
    static Error writeTimeoutError();
    static Error connectionClosedError();
    static Error otherError(const std::string& message);
    static Error errnoErrorWithReason(const std::string& reason);
    static Error errnoError();
    /// The resolver's error number in the numbering our error domain uses (EAI_FAIL is 4,
    /// EAI_NONAME 8, ...), whatever this system numbers them.
    static int portableResolverCode(int systemCode);

    /// State bits (cleared by every close).
    enum Flags : uint32_t {
        flagStarted = 1 << 0,
        flagConnected = 1 << 1,
        flagNoNewIO = 1 << 2,
        flagReadsPaused = 1 << 3,
        flagWritesPaused = 1 << 4,
        flagCloseAfterReads = 1 << 5,
        flagCloseAfterWrites = 1 << 6,
        flagCanAcceptBytes = 1 << 7,
        flagReadSourceSuspended = 1 << 8,
        flagWriteSourceSuspended = 1 << 9,
        flagTLSQueued = 1 << 10,
        flagReadTLSStarting = 1 << 11,
        flagWriteTLSStarting = 1 << 12,
        flagSecure = 1 << 13,
        flagReadEOF = 1 << 14,
        flagReadStreamClosed = 1 << 15,
        flagDeallocating = 1 << 16,
    };
    /// Configuration bits (kept across closes).
    enum Config : uint16_t {
        configNoIPv4 = 1 << 0,
        configNoIPv6 = 1 << 1,
        configPreferIPv6 = 1 << 2,
        configKeepOpenOnReadEOF = 1 << 3,
    };

  private:
    /// The delegate, held weakly through its life token.
    struct DelegateRef {
        DelegateRef() = default;
        explicit DelegateRef(DispatchSocketDelegate* delegate);
        /// The delegate while it lives, else null.
        DispatchSocketDelegate* live() const { return token.expired() ? nullptr : ptr; }

        DispatchSocketDelegate* ptr = nullptr;
        std::weak_ptr<int> token;
    };

    bool onSocketQueue() const;
    /// Runs `fn` on the socket queue and waits (directly when already there).
    void runSync(const std::function<void()>& fn) const;
    void runAsync(std::function<void()> fn);
    /// Runs `fn` on the socket queue without waiting for its thread: in place when the queue is
    /// idle, or only briefly busy in place (short work that never waits for another thread
    /// only), else queued. On a socket whose queue is the main queue, a request made on the main
    /// thread runs at once while none of the socket's own blocks waits there.
    template <class Fn>
    void runSoon(Fn&& fn) {
        if (runsRequestsAtOnce()) {
            fn();
        } else {
            runSoonQueued(std::forward<Fn>(fn));
        }
    }
    bool runsRequestsAtOnce() const;
    void runSoonQueued(std::function<void()> fn);
    /// Calls `fn(delegate, socket)` on the delegate queue with the current delegate (socket
    /// queue only). The call keeps the socket alive until it has been delivered, except while
    /// the socket is being destroyed: then the delegate hears of it with no socket. `fn` is held
    /// as it is, in the one block posted (a read's bytes are not wrapped twice).
    template <class Fn>
    void notifyDelegate(Fn fn) {
        if (!delegateQueue_ || !delegate_.ptr) return;
        std::shared_ptr<DispatchSocket> self =
            (flags_ & flagDeallocating) ? nullptr : weak_from_this().lock();
        postToDelegateQueue([ref = delegate_, self = std::move(self), fn = std::move(fn)] {
            auto alive = ref.token.lock();
            if (alive) fn(*ref.ptr, self.get());
        });
    }
    /// Posts `call` to the delegate queue (socket queue only), or, while a batch is open, keeps
    /// it for the batch's end.
    void postToDelegateQueue(std::function<void()> call);
    /// While one lives (socket queue only), delegate calls gather, and go to their queue together
    /// when the outermost one ends: all that one event or one request caused costs the delegate
    /// queue a single wake-up, and its thread finds the socket queue free when it answers.
    /// Posts the calls a batch holds so far. Also before bytes go out: the peer's answer to them
    /// must not reach its delegate before the calls that came first here reach ours.
    void postBatchedDelegateCalls();
    class DelegateCallBatch {
      public:
        explicit DelegateCallBatch(DispatchSocket& socket);
        ~DelegateCallBatch();
        DelegateCallBatch(const DelegateCallBatch&) = delete;
        DelegateCallBatch& operator=(const DelegateCallBatch&) = delete;

      private:
        DispatchSocket& socket_;
    };

    void closeWithError(std::optional<Error> error);
    void maybeClose();

    // connect / accept (DispatchSocketConnect.cpp)
    /// Runs a connect or accept on the socket queue and waits: `attempt` says whether it started
    /// and sets the error when not (an empty one for a failure already told to the delegate).
    bool runStartingCall(Error* error, const std::function<bool(Error*)>& attempt);
    /// The checks every connect and accept makes; `verb` ("connect", "accept") names it.
    bool checkCanStart(const std::string& verb, Error* error) const;
    bool checkNotStarted(const std::string& verb, Error* error) const;
    bool checkAFamilyEnabled(Error* error) const;
    bool checkInterfaceFamilies(const Bytes& interface4, const Bytes& interface6,
                                Error* error) const;
    bool preConnectWithInterface(const std::string& interface, Error* error);
    bool preConnectWithUrl(const std::string& path, Error* error);
    void lookupDidSucceed(int aStateIndex, Bytes address4, Bytes address6);
    void lookupDidFail(int aStateIndex, const Error& error);
    bool connectWithAddress4(const Bytes& address4, const Bytes& address6, Error* error);
    bool connectWithAddressUN(const Bytes& address, Error* error);
    bool startNonBlockingConnect(int fd, const Bytes& address, Error* error);
    void connectReady();
    void didConnect(int aStateIndex);
    void didNotConnect(int aStateIndex, const Error& error);
    /// A one-shot timer on the socket queue that calls `fire` while this socket lives.
    std::shared_ptr<dispatch::TimerSource> startTimer(double seconds,
                                                      std::function<void(DispatchSocket&)> fire);
    void startConnectTimeout(double timeout);
    void endConnectTimeout();
    void doConnectTimeout();
    int createListeningSocket(int domain, const Bytes& address, bool v6Only, Error* error);
    std::shared_ptr<dispatch::Source> makeAcceptSource(int fd);
    void acceptReady(int listenFD);
    void pauseAccepting();
    bool doAccept(int listenFD);

    // read / write (DispatchSocketIO.cpp)
    void queueRead(std::shared_ptr<DispatchReadPacket> packet);
    void createSources(int fd);
    /// Whether the read and write sources' handlers may run on the epoll thread (see
    /// dispatch::Source::setDeliversInPlace): on, except while a TLS handshake runs.
    void setSourcesDeliverInPlace(bool inPlace);
    void readSourceFired();
    void writeSourceFired();
    void setupReadAndWriteSourcesForNewlyConnectedSocket(int fd);
    void suspendReadSource();
    void resumeReadSource();
    void suspendWriteSource();
    void resumeWriteSource();
    void maybeDequeueRead();
    void doReadData();
    void doReadEOF();
    void completeCurrentRead();
    void maybeDequeueWrite();
    void doWriteData();
    void completeCurrentWrite();
    // The read and the write side time out alike; `side` picks the packet, timer and flag.
    enum class IOSide { Read, Write };
    std::shared_ptr<DispatchSocketPacket>& currentPacket(IOSide side);
    std::shared_ptr<dispatch::TimerSource>& timerOf(IOSide side);
    void endCurrentPacket(IOSide side);
    void setupTimerWithTimeout(IOSide side, double timeout);
    /// The side's timer rang: a time-out if the current packet's deadline has passed, else the
    /// timer is set again for that deadline.
    void ioTimerFired(IOSide side);
    /// Offers the current write to the descriptor whether or not it said it can take bytes.
    void writeWhatTheDescriptorTakes();
    void armIOTimer(IOSide side, double seconds);
    void cancelIOTimers();
    void doTimeout(IOSide side);
    void doTimeoutWithExtension(IOSide side, double extension);
    void maybeStartTLS();
    int connectedFD() const;

    // TLS (DispatchSocketTLS.cpp)
    void sslStartTLS();
    void sslHandshakeTimedOut();
    void sslContinueHandshake();
    void sslAskDelegateForTrust();
    void sslShouldTrustPeer(bool shouldTrust, int aStateIndex);
    void sslCloseUnansweredTrust(int aStateIndex);
    /// The engine's transport: the socket's descriptor behind `sslPreBuffer_`.
    int sslReadWithBuffer(uint8_t* buffer, size_t length, size_t* processed);
    int sslWriteWithBuffer(const uint8_t* buffer, size_t length, size_t* processed);
    /// Decrypts what has arrived into the pre-buffer (only when it is empty).
    void flushSSLBuffers();
    /// Bytes readable without waiting: the descriptor's, plus, when secure, the encrypted bytes
    /// read ahead and the decrypted bytes the engine holds.
    uint64_t estimatedBytesAvailable() const;
    /// Decrypts up to `length` bytes into `target`; answers the first status other than
    /// success, or success when `length` bytes came.
    int sslReadInto(uint8_t* target, size_t length, size_t* bytesRead);
    /// The encrypted write of the current packet from `p.bytesDone`.
    void sslWritePacket(DispatchWritePacket& p, size_t* bytesWritten, bool* waiting,
                        std::optional<Error>* error);
    /// Sends close_notify without waiting and drops the engine (close only).
    void sslClose();

    // addresses (DispatchSocketAddress.cpp)
    static std::optional<std::string> hostFromFD(int fd, bool peer);
    static uint16_t portFromFD(int fd, bool peer);
    static std::optional<Bytes> addressFromFD(int fd, bool peer);
    std::optional<std::string> connectedUrlFromSocketUN() const;

    uint32_t flags_ = 0;
    uint16_t config_ = 0;
    DelegateRef delegate_;
    QueuePtr delegateQueue_;
    int socket4FD_ = -1;
    int socket6FD_ = -1;
    int socketUN_ = -1;
    std::string socketUrl_;
    int stateIndex_ = 0;
    Bytes connectInterface4_, connectInterface6_, connectInterfaceUN_;
    QueuePtr socketQueue_;
    std::shared_ptr<dispatch::Source> accept4Source_, accept6Source_, acceptUNSource_;
    std::shared_ptr<dispatch::TimerSource> acceptPauseTimer_;
    bool acceptStarved_ = false;  // out of descriptors (logged once per episode)
    std::shared_ptr<dispatch::TimerSource> connectTimer_;
    int connectIndex_ = 0;  // stateIndex_ of the connect in progress
    std::shared_ptr<dispatch::DescriptorSource> readSource_, writeSource_;
    // One timer per side serves every packet of the connection. A packet only notes its
    // deadline; the timer is set again only when it would ring after that deadline, and a timer
    // that rings early (its packet done, or a later one under way) is set for the deadline then.
    // Making and cancelling a timer per packet would cost a trip through the socket queue's
    // thread for each.
    std::shared_ptr<dispatch::TimerSource> readTimer_, writeTimer_;
    static constexpr double kNoDeadline = 1e300;
    double ioDeadline_[2] = {kNoDeadline, kNoDeadline};  // the current packet's (timer's clock)
    double ioTimerRingsAt_[2] = {kNoDeadline, kNoDeadline};
    std::shared_ptr<dispatch::TimerSource> handshakeTimer_;
    std::deque<std::shared_ptr<DispatchSocketPacket>> readQueue_, writeQueue_;
    std::shared_ptr<DispatchSocketPacket> currentRead_, currentWrite_;
    uint64_t socketFDBytesAvailable_ = 0;
    DispatchSocketPreBuffer preBuffer_{4096};
    std::unique_ptr<TLSEngine> sslContext_;
    DispatchSocketPreBuffer sslPreBuffer_{0};  // encrypted bytes read ahead of the engine
    size_t sslWriteCachedLength_ = 0;          // a record the engine holds for a retry
    int sslErrCode_ = 0;                       // the status that ended the encrypted stream
    int lastSSLHandshakeError_ = 0;
    std::shared_ptr<void> userData_;
    // Blocks runAsync queued that have not run yet (a request must not overtake them).
    std::atomic<int> queuedBlocks_{0};
    int delegateBatchDepth_ = 0;
    std::vector<std::pair<QueuePtr, std::function<void()>>> batchedDelegateCalls_;
    // The storage of the batch posted last, kept for the next one.
    std::vector<std::pair<QueuePtr, std::function<void()>>> spareDelegateCalls_;
};

}  // namespace quenbril
