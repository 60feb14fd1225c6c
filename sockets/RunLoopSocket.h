#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "foundation/DescriptorWatch.h"
#include "foundation/Error.h"
#include "foundation/Value.h"
#include "sockets/ReadPacket.h"
#include "sockets/RunLoopOneShotTimer.h"
#include "sockets/RunLoopPerforms.h"
#include "sockets/RunLoopSocketDelegate.h"
#include "sockets/RunLoopStreamPair.h"
#include "sockets/RunLoopTLSStartPacket.h"
#include "sockets/RunLoopWritePacket.h"

namespace quenbril {

class RunLoop;

/// A TCP socket that lives on one thread's run loop: it listens, or connects and carries its
/// bytes through a RunLoopStreamPair, with first-in-first-out queues of tagged reads and writes
/// whose time-outs the delegate may extend, and can switch to TLS mid-stream. The delegate is
/// called directly on the loop's thread. Every call must be made on that thread (or on the new
/// one after moveToRunLoop). Misuse throws RunLoopSocketException named "RunLoopSocketException".
/// Descriptors are -1 when absent. Made only through `make`.
class RunLoopSocket : public std::enable_shared_from_this<RunLoopSocket> {
    struct Passkey {};

  public:
    static constexpr const char* kErrorDomain = "RunLoopSocketErrorDomain";
    static constexpr const char* kExceptionName = "RunLoopSocketException";
    enum ErrorCode : int64_t {
        CFSocketError = -1,
        CanceledError = 1,
        ConnectTimeoutError = 2,
        ReadMaxedOutError = 3,
        ReadTimeoutError = 4,
        WriteTimeoutError = 5,
    };
    /// The most one read-all pass takes, so that a fast peer cannot grow a buffer without bound.
    static constexpr size_t kMaxReadAllPass = 64 * 1024;
    static constexpr size_t kWriteChunk = 4096;

    /// `loop`: the loop of the calling thread; null means the main loop.
    static std::shared_ptr<RunLoopSocket> make(RunLoopSocketDelegate* delegate = nullptr,
                                               long userData = 0, RunLoop* loop = nullptr);
    RunLoopSocket(Passkey, RunLoopSocketDelegate* delegate, long userData, RunLoop& loop);
    /// Closes without telling the delegate (the owner is letting go of it).
    ~RunLoopSocket();
    RunLoopSocket(const RunLoopSocket&) = delete;
    RunLoopSocket& operator=(const RunLoopSocket&) = delete;

    RunLoopSocketDelegate* delegate() const { return delegate_; }
    void setDelegate(RunLoopSocketDelegate* delegate) { delegate_ = delegate; }
    long userData() const { return userData_; }
    void setUserData(long value) { userData_ = value; }
    bool canSafelySetDelegate() const;
    RunLoopStreamPair* getStreamPair() const { return streams_.get(); }

    // ---- run loop ----
    bool moveToRunLoop(RunLoop* loop);
    bool setRunLoopModes(const std::vector<std::string>& modes);
    bool addRunLoopMode(const std::string& mode);
    bool removeRunLoopMode(const std::string& mode);
    std::vector<std::string> runLoopModes() const { return modes_; }
    void enablePreBuffering() { flags_ |= flagEnablePreBuffering; }
    /// Throws when called off the thread of the socket's loop.
    void checkForThreadSafety() const;

    // ---- listening and connecting ----
    bool acceptOnPort(uint16_t port, Error* error = nullptr);
    /// `interface`: empty for all, "localhost"/"loopback", an address or a name.
    bool acceptOnInterface(const std::string& interface, uint16_t port, Error* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, Error* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, double timeout,
                       Error* error = nullptr);
    bool connectToAddress(const Bytes& address, Error* error = nullptr);
    bool connectToAddress(const Bytes& address, double timeout, Error* error = nullptr);
    bool connectToAddress(const Bytes& address, const Bytes& interfaceAddress, double timeout,
                          Error* error = nullptr);

    // ---- reading, writing, TLS ----
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
    void writeData(Bytes data, double timeout, long tag);
    void writeData(std::shared_ptr<const Bytes> data, double timeout, long tag);
    /// Switches to TLS once the reads and writes queued before have finished. `settings` takes
    /// the TLS engine's keys (kCFStreamSSLIsServer, kCFStreamSSLPeerName,
    /// kCFStreamSSLCertificates...); a client checks its peer against the system's trust. A
    /// handshake not done `timeout` seconds (on the loop's clock) after it began, none when
    /// negative, closes the socket with `ReadTimeoutError`, its one outcome.
    void startTLS(const Dictionary& settings, double timeout = -1);
    float progressOfReadReturningTag(long* tag, uint64_t* done, uint64_t* total) const;
    float progressOfWriteReturningTag(long* tag, uint64_t* done, uint64_t* total) const;

    // ---- disconnecting ----
    void disconnect();
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();
    /// While closing with an error: the bytes the interrupted read held and every byte the
    /// stream still has; otherwise none.
    std::optional<Bytes> unreadData();

    // ---- state and addresses ----
    bool isConnected() const;
    bool isDisconnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    std::optional<std::string> connectedHost() const;
    uint16_t connectedPort() const;
    std::optional<std::string> localHost() const;
    uint16_t localPort() const;
    std::optional<Bytes> connectedAddress() const;
    std::optional<Bytes> localAddress() const;
    std::optional<std::string> connectedHost4() const;
    std::optional<std::string> connectedHost6() const;
    uint16_t connectedPort4() const;
    uint16_t connectedPort6() const;
    std::optional<std::string> localHost4() const;
    std::optional<std::string> localHost6() const;
    uint16_t localPort4() const;
    uint16_t localPort6() const;
    std::string description() const;

    static const Bytes& CRLFData();
    static const Bytes& CRData();
    static const Bytes& LFData();
    static const Bytes& ZeroData();

    /// The stream's (domain, code) as an error; none when both are 0.
    static std::optional<Error> errorFromStreamError(const RunLoopStreamPair::StreamError& e);

    enum Flags : uint16_t {
        flagEnablePreBuffering = 0x0001,
        flagDidStartDelegate = 0x0002,
        flagDidCompleteOpenForRead = 0x0004,
        flagDidCompleteOpenForWrite = 0x0008,
        flagStartingReadTLS = 0x0010,
        flagStartingWriteTLS = 0x0020,
        flagForbidReadsWrites = 0x0040,
        flagDisconnectAfterReads = 0x0080,
        flagDisconnectAfterWrites = 0x0100,
        flagClosingWithError = 0x0200,
        flagDequeueReadScheduled = 0x0400,
        flagDequeueWriteScheduled = 0x0800,
        flagSocketCanAcceptBytes = 0x1000,
        flagSocketHasBytesAvailable = 0x2000,
    };

  private:
    using ReadItem =
        std::variant<std::shared_ptr<ReadPacket>, std::shared_ptr<RunLoopTLSStartPacket>>;
    using WriteItem =
        std::variant<std::shared_ptr<RunLoopWritePacket>, std::shared_ptr<RunLoopTLSStartPacket>>;

    static Error socketError(ErrorCode code);
    [[noreturn]] static void raise(const std::string& reason);

    // connection life (RunLoopSocket.cpp)
    bool attached() const;
    void attach();
    void detach();
    /// Re-attaches on the loop the socket was moved to, and takes up the queued work.
    void resumeOnRunLoop();
    void performChecks();
    void perform(void (RunLoopSocket::*task)());
    void checkCanStart(const char* verb) const;
    int makeListeningSocket(const Bytes& address, Error* error);
    void watchListening();
    void acceptReady(int listenFD);
    void adoptAccepted(int fd, bool ipv4);
    void watchConnecting();
    void connectReady();
    bool configureStreams(Error* error);
    bool attachStreams(Error* error);
    bool openStreams(Error* error);
    void streamEvent(RunLoopStreamPair::Side side, RunLoopStreamPair::Event event);
    void doStreamOpen();
    void startConnectTimeout(double timeout);
    void doConnectTimeout();
    void closeWithError(const std::optional<Error>& error);
    void close();
    void emptyQueues();
    void maybeScheduleDisconnect();
    std::optional<Error> streamError() const;

    // reading and writing (RunLoopSocketIO.cpp)
    void queueRead(std::shared_ptr<ReadPacket> packet);
    void scheduleDequeueRead();
    void maybeDequeueRead();
    void doBytesAvailable();
    ssize_t readIntoBuffer(uint8_t* buffer, size_t length);
    void completeCurrentRead();
    void endCurrentRead();
    void doReadTimeout();
    void scheduleDequeueWrite();
    void maybeDequeueWrite();
    void doSendBytes();
    void completeCurrentWrite();
    void endCurrentWrite();
    void doWriteTimeout();
    void maybeStartTLS();
    void doTLSHandshakeTimeout();
    void onTLSHandshakeSuccessful();

    // addresses (RunLoopSocketAddress.cpp)
    int queryFD(int family) const;
    std::optional<Bytes> addressOf(int family, bool peer) const;
    std::string sideText(bool peer) const;

    int nativeSocket4_ = -1, nativeSocket6_ = -1;
    /// Listening sockets (owned).
    int listen4_ = -1, listen6_ = -1;
    DescriptorWatch accept4_, accept6_;
    /// The socket of a connect to an address until it connects (owned).
    int connecting_ = -1;
    DescriptorWatch connectWatch_;
    /// Once open: which family the streams' descriptor is (the wrapped socket), -1 for none.
    int wrapped4_ = -1, wrapped6_ = -1;
    std::shared_ptr<RunLoopStreamPair> streams_;
    RunLoop* runLoop_;
    std::vector<std::string> modes_;
    RunLoopPerforms performs_;
    RunLoopPerforms disconnectPerform_;
    RunLoopOneShotTimer connectTimer_;
    std::deque<ReadItem> readQueue_;
    std::optional<ReadItem> currentRead_;
    RunLoopOneShotTimer readTimer_;
    Bytes partialReadBuffer_;
    std::deque<WriteItem> writeQueue_;
    std::optional<WriteItem> currentWrite_;
    RunLoopOneShotTimer writeTimer_;
    RunLoopSocketDelegate* delegate_;
    uint16_t flags_ = flagEnablePreBuffering;
    long userData_;
};

}  // namespace quenbril
