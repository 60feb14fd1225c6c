#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/DescriptorWatch.h"
#include "foundation/Error.h"
#include "foundation/Value.h"
#include "sockets/RunLoopOneShotTimer.h"
#include "sockets/RunLoopPerforms.h"
#include "sockets/RunLoopReceivePacket.h"
#include "sockets/RunLoopSendPacket.h"
#include "sockets/RunLoopUdpSocketDelegate.h"

namespace quenbril {

class RunLoop;

/// A UDP socket that lives on one thread's run loop: up to one IPv4 and one IPv6 socket, sends
/// and receives queued first in first out with their own time-outs and tags, and a delegate
/// called directly on that thread. Every call must be made on the loop's thread (or on the new
/// one after moveToRunLoop). Misuse throws RunLoopSocketException named
/// "RunLoopUdpSocketException".
///
/// Readiness is watched only while a send or receive waits for it, so an idle socket costs the
/// loop nothing. Made only through `make`, so that callbacks can keep it alive while they run.
class RunLoopUdpSocket : public std::enable_shared_from_this<RunLoopUdpSocket> {
    struct Passkey {};

  public:
    static constexpr const char* kErrorDomain = "RunLoopUdpSocketErrorDomain";
    static constexpr const char* kExceptionName = "RunLoopUdpSocketException";
    static constexpr const char* kPosixStreamDomain = "kCFStreamErrorDomainPOSIX";
    enum ErrorCode : int64_t {
        CFSocketError = -1,
        BadParameterError = 1,
        IPv4UnavailableError = 2,
        IPv6UnavailableError = 3,
        SendTimeoutError = 4,
        ReceiveTimeoutError = 5,
    };
    static constexpr uint32_t kDefaultMaxReceiveBufferSize = 9216;
    /// Datagrams one pass over a socket reads before it gives the loop back.
    static constexpr int kMaxDatagramsPerPass = 64;

    /// `loop`: the loop of the calling thread; null means the main loop.
    static std::shared_ptr<RunLoopUdpSocket> make(RunLoopUdpSocketDelegate* delegate = nullptr,
                                                  long userData = 0, bool enableIPv4 = true,
                                                  bool enableIPv6 = true, RunLoop* loop = nullptr);
    static std::shared_ptr<RunLoopUdpSocket> makeIPv4(RunLoopUdpSocketDelegate* delegate = nullptr,
                                                      RunLoop* loop = nullptr);
    static std::shared_ptr<RunLoopUdpSocket> makeIPv6(RunLoopUdpSocketDelegate* delegate = nullptr,
                                                      RunLoop* loop = nullptr);
    RunLoopUdpSocket(Passkey, RunLoopUdpSocketDelegate* delegate, long userData, bool enableIPv4,
                     bool enableIPv6, RunLoop& loop);
    /// Closes without telling the delegate (the owner is letting go of it).
    ~RunLoopUdpSocket();
    RunLoopUdpSocket(const RunLoopUdpSocket&) = delete;
    RunLoopUdpSocket& operator=(const RunLoopUdpSocket&) = delete;

    RunLoopUdpSocketDelegate* delegate() const { return delegate_; }
    void setDelegate(RunLoopUdpSocketDelegate* delegate) { delegate_ = delegate; }
    long userData() const { return userData_; }
    void setUserData(long value) { userData_ = value; }
    uint32_t maxReceiveBufferSize() const { return maxReceiveBufferSize_; }
    void setMaxReceiveBufferSize(uint32_t size) { maxReceiveBufferSize_ = size; }

    // ---- run loop ----
    std::vector<std::string> runLoopModes() const { return modes_; }
    /// Re-attaches to `loop` (another thread's, usually): the work resumes there, on that thread.
    bool moveToRunLoop(RunLoop* loop);
    bool setRunLoopModes(const std::vector<std::string>& modes);
    /// Throws when called off the thread of the socket's loop.
    void checkForThreadSafety() const;

    // ---- binding and connecting ----
    bool bindToPort(uint16_t port, Error* error = nullptr);
    /// `host`: empty for any address, "localhost"/"loopback", an address or a name.
    bool bindToAddress(const std::string& host, uint16_t port, Error* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, Error* error = nullptr);
    /// `address`: a whole sockaddr_in (16 bytes) or sockaddr_in6 (28 bytes).
    bool connectToAddress(const Bytes& address, Error* error = nullptr);
    bool joinMulticastGroup(const std::string& group, Error* error = nullptr);
    bool joinMulticastGroup(const std::string& group, const std::string& interfaceAddress,
                            Error* error = nullptr);
    bool enableBroadcast(bool flag, Error* error = nullptr);

    // ---- sending and receiving ----
    /// Each returns true when the datagram was queued.
    bool sendData(const Bytes& data, double timeout, long tag);
    bool sendData(const Bytes& data, const std::string& host, uint16_t port, double timeout,
                  long tag);
    bool sendData(const Bytes& data, const Bytes& address, double timeout, long tag);
    void receiveWithTimeout(double timeout, long tag);

    // ---- closing ----
    void close();
    void closeAfterSending();
    void closeAfterReceiving();
    void closeAfterSendingAndReceiving();

    // ---- state ----
    std::optional<std::string> localHost();
    uint16_t localPort();
    std::optional<std::string> connectedHost();
    uint16_t connectedPort();
    bool isConnected() const;
    bool isConnectedToHost(const std::string& host, uint16_t port);
    bool isClosed() const;
    bool isIPv4() const { return socket4_ >= 0; }
    bool isIPv6() const { return socket6_ >= 0; }
    /// The MTU of the interface that holds the local address; 0 without one.
    uint32_t maximumTransmissionUnit() const;

    enum Flags : uint16_t {
        flagBound = 0x1,
        flagConnected = 0x2,
        flagSock4CanAccept = 0x4,
        flagSock6CanAccept = 0x8,
        flagSock4HasBytes = 0x10,
        flagSock6HasBytes = 0x20,
        flagForbidSendReceive = 0x40,
        flagCloseAfterSends = 0x80,
        flagCloseAfterReceives = 0x100,
        flagDidClose = 0x200,
        flagDequeueSendScheduled = 0x400,
        flagDequeueReceiveScheduled = 0x800,
        flagFlipFlop = 0x1000,
    };

  private:
    enum class Family { V4, V6 };

    static Error socketError();
    static Error ipv4UnavailableError();
    static Error ipv6UnavailableError();
    static Error sendTimeoutError();
    static Error receiveTimeoutError();
    [[noreturn]] static void raise(const std::string& reason);

    bool attached() const;
    void attach();
    void detach();
    /// Re-attaches on the loop the socket was moved to, and takes up the queued work.
    void resumeOnRunLoop();
    /// Posts `task` as a perform of this socket (dropped while the socket is attached nowhere).
    void perform(void (RunLoopUdpSocket::*task)());

    int& fdOf(Family family) { return family == Family::V4 ? socket4_ : socket6_; }
    DescriptorWatch& readWatchOf(Family f) { return f == Family::V4 ? read4_ : read6_; }
    DescriptorWatch& writeWatchOf(Family f) { return f == Family::V4 ? write4_ : write6_; }
    uint16_t canAcceptFlag(Family f) const {
        return f == Family::V4 ? flagSock4CanAccept : flagSock6CanAccept;
    }
    uint16_t hasBytesFlag(Family f) const {
        return f == Family::V4 ? flagSock4HasBytes : flagSock6HasBytes;
    }
    void watch(Family family, bool forWriting);
    void watchFired(Family family, bool writable);
    bool canAcceptBytes(Family family);
    bool hasBytesAvailable(Family family);
    Family familyForPacket(const RunLoopSendPacket& packet) const;

    void scheduleDequeueSend();
    void maybeDequeueSend();
    void doSend(Family family);
    void completeCurrentSend();
    void failCurrentSend(const Error& error);
    void endCurrentSend();
    void doSendTimeout();
    void scheduleDequeueReceive();
    void maybeDequeueReceive();
    void doReceive(Family family);
    /// True when the receive ended.
    bool maybeCompleteCurrentReceive();
    void failCurrentReceive(const Error& error);
    void endCurrentReceive();
    void doReceiveTimeout();
    void emptyQueues();
    void closeSocket(Family family);
    void maybeScheduleClose();
    void closeNow(bool tellDelegate);

    std::optional<Bytes> address(bool peer) const;

    int socket4_ = -1;
    int socket6_ = -1;
    DescriptorWatch read4_, read6_, write4_, write6_;
    RunLoop* runLoop_;
    std::vector<std::string> modes_;
    RunLoopPerforms performs_;
    std::deque<RunLoopSendPacket> sendQueue_;
    std::optional<RunLoopSendPacket> currentSend_;
    RunLoopOneShotTimer sendTimer_;
    std::deque<RunLoopReceivePacket> receiveQueue_;
    std::optional<RunLoopReceivePacket> currentReceive_;
    RunLoopOneShotTimer receiveTimer_;
    RunLoopUdpSocketDelegate* delegate_;
    uint16_t flags_ = 0;
    long userData_;
    std::optional<std::string> cachedLocalHost_;
    uint16_t cachedLocalPort_ = 0;
    std::optional<std::string> cachedConnectedHost_;
    uint16_t cachedConnectedPort_ = 0;
    uint32_t maxReceiveBufferSize_ = kDefaultMaxReceiveBufferSize;
    /// Datagrams read since the loop last reported a socket readable.
    int datagramsThisPass_ = 0;
};

}  // namespace quenbril
