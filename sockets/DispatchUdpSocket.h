#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Value.h"
#include "sockets/DispatchUdpSocketDelegate.h"

struct sockaddr;
struct sockaddr_in;
struct sockaddr_in6;

namespace quenbril {

namespace dispatch {
class Queue;
class DescriptorSource;
class TimerSource;
}  // namespace dispatch
class DispatchUdpSendPacket;
class DispatchUdpConnectPacket;

/// A datagram socket driven by dispatch queues: up to two BSD UDP sockets (IPv4 and IPv6) owned
/// by one object whose state lives on a private serial queue (the socket queue). Results reach
/// `DispatchUdpSocketDelegate` asynchronously on the delegate queue.
///
/// Calls that answer (getters, bind, connect, join, options, starting to receive, close) wait
/// for the socket queue, or run directly when already on it; setters, sends, pausing and
/// `closeAfterSending` are queued. Sockets are made by the first bind, connect, option or send.
/// Socket addresses are byte buffers holding a whole `sockaddr_in` or `sockaddr_in6`; ports are
/// in host order; a negative time-out means none.
class DispatchUdpSocket : public std::enable_shared_from_this<DispatchUdpSocket> {
    struct Passkey {};

  public:
    using QueuePtr = std::shared_ptr<dispatch::Queue>;
    /// Given the payload, the destination and the tag: whether to send.
    using SendFilter = std::function<bool(const Bytes& data, const Bytes& address, long tag)>;
    /// Given the payload and the sender: whether to deliver; may set a context for the delegate.
    using ReceiveFilter = std::function<bool(const Bytes& data, const Bytes& address,
                                             std::shared_ptr<void>* context)>;
    /// The name lookup (blocking, run on the global queue): addresses in the resolver's order,
    /// or none with the error.
    using Resolver = std::function<std::optional<std::vector<Bytes>>(const std::string& host,
                                                                     uint16_t port, Error* error)>;
    /// The system's send: `sendto` with `address` (null for a connected socket).
    using SendFunction = std::function<ssize_t(int fd, const void* data, size_t length,
                                               const sockaddr* address, size_t addressLength)>;

    static constexpr const char* kErrorDomain = "DispatchUdpSocketErrorDomain";
    enum ErrorCode : int64_t {
        NoError = 0,
        BadConfigError = 1,
        BadParamError = 2,
        SendTimeoutError = 3,
        ClosedError = 4,
        OtherError = 5,
    };

    // ---- creation and configuration (model) ----
    static std::shared_ptr<DispatchUdpSocket> make(DispatchUdpSocketDelegate* delegate = nullptr,
                                                   QueuePtr delegateQueue = nullptr,
                                                   QueuePtr socketQueue = nullptr);
    DispatchUdpSocket(Passkey, DispatchUdpSocketDelegate* delegate, QueuePtr delegateQueue,
                      QueuePtr socketQueue);
    /// Closes (telling the delegate with a null socket when sockets were made).
    ~DispatchUdpSocket();
    DispatchUdpSocket(const DispatchUdpSocket&) = delete;
    DispatchUdpSocket& operator=(const DispatchUdpSocket&) = delete;

    DispatchUdpSocketDelegate* delegate() const;
    QueuePtr delegateQueue() const;
    void getDelegate(DispatchUdpSocketDelegate** delegate, QueuePtr* delegateQueue) const;
    void setDelegate(DispatchUdpSocketDelegate* delegate, bool synchronously = false);
    void setDelegateQueue(QueuePtr delegateQueue, bool synchronously = false);
    void setDelegate(DispatchUdpSocketDelegate* delegate, QueuePtr delegateQueue,
                     bool synchronously = false);

    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool flag);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool flag);
    bool isIPv4Preferred() const;
    bool isIPv6Preferred() const;
    bool isIPVersionNeutral() const;
    void setPreferIPv4();
    void setPreferIPv6();
    void setIPVersionNeutral();
    uint16_t maxReceiveIPv4BufferSize() const;
    void setMaxReceiveIPv4BufferSize(uint16_t max);
    uint32_t maxReceiveIPv6BufferSize() const;
    void setMaxReceiveIPv6BufferSize(uint32_t max);
    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> data);

    bool isConnected() const;
    bool isClosed() const;
    bool isIPv4() const;
    bool isIPv6() const;
    /// Descriptors: only on the socket queue (inside performBlock); -1 elsewhere.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    void performBlock(const std::function<void()>& block);
    void markSocketQueueTargetQueue(const QueuePtr& queue);
    void unmarkSocketQueueTargetQueue(const QueuePtr& queue);

    /// Test seams: the name lookup and the system's send.
    void setResolver(Resolver resolver);
    void setSendFunction(SendFunction send);

    // ---- binding, connecting and options ----
    bool bindToPort(uint16_t port, Error* error = nullptr);
    /// `interface`: "" for any, a name ("lo"), an address text, "localhost" or "loopback".
    bool bindToPort(uint16_t port, const std::string& interface, Error* error = nullptr);
    bool bindToAddress(const Bytes& address, Error* error = nullptr);
    /// Queues a connect (after the datagrams queued before); the outcome comes through the
    /// delegate. A null host is refused.
    bool connectToHost(const std::optional<std::string>& host, uint16_t port,
                       Error* error = nullptr);
    bool connectToAddress(const std::optional<Bytes>& address, Error* error = nullptr);
    bool joinMulticastGroup(const std::string& group, Error* error = nullptr);
    bool joinMulticastGroup(const std::string& group, const std::string& interface,
                            Error* error = nullptr);
    bool leaveMulticastGroup(const std::string& group, Error* error = nullptr);
    bool leaveMulticastGroup(const std::string& group, const std::string& interface,
                             Error* error = nullptr);
    /// SO_REUSEPORT: on Linux every socket sharing a port must set it, before binding.
    bool enableReusePort(bool flag, Error* error = nullptr);
    bool enableBroadcast(bool flag, Error* error = nullptr);

    std::optional<Bytes> localAddress() const;
    std::optional<std::string> localHost() const;
    uint16_t localPort() const;
    std::optional<Bytes> localAddress_IPv4() const;
    std::optional<std::string> localHost_IPv4() const;
    uint16_t localPort_IPv4() const;
    std::optional<Bytes> localAddress_IPv6() const;
    std::optional<std::string> localHost_IPv6() const;
    uint16_t localPort_IPv6() const;
    std::optional<Bytes> connectedAddress() const;
    std::optional<std::string> connectedHost() const;
    uint16_t connectedPort() const;

    // ---- sending and receiving ----
    void sendData(Bytes data, long tag);
    /// To the peer of a connected socket.
    void sendData(Bytes data, double timeout, long tag);
    /// To `host` (looked up at once, beside the queue) and `port`; a null host is reported.
    void sendData(Bytes data, const std::optional<std::string>& host, uint16_t port, double timeout,
                  long tag);
    void sendData(Bytes data, const Bytes& address, double timeout, long tag);
    void setSendFilter(SendFilter filter, QueuePtr queue, bool isAsynchronous = true);
    void setReceiveFilter(ReceiveFilter filter, QueuePtr queue, bool isAsynchronous = true);
    bool receiveOnce(Error* error = nullptr);
    bool beginReceiving(Error* error = nullptr);
    void pauseReceiving();

    /// Resumes both receive sources (for an owner that paused the process's work).
    void applicationWillEnterForeground();
    /// Closes at once; the delegate hears of it when sockets had been made.
    void close();
    /// Closes once every queued datagram has been dealt with.
    void closeAfterSending();

    // ---- addresses (the helpers the TCP socket uses) ----
    /// Numeric text of the address; empty when it cannot be written.
    static std::string hostFromSockaddr4(const sockaddr_in& address);
    static std::string hostFromSockaddr6(const sockaddr_in6& address);
    /// The port in host order.
    static uint16_t portFromSockaddr4(const sockaddr_in& address);
    static uint16_t portFromSockaddr6(const sockaddr_in6& address);
    static std::optional<std::string> hostFromAddress(const Bytes& address);
    static uint16_t portFromAddress(const Bytes& address);
    /// AF_INET, AF_INET6, or 0 when `address` is not one.
    static int familyFromAddress(const Bytes& address);
    static bool isIPv4Address(const Bytes& address);
    static bool isIPv6Address(const Bytes& address);
    /// Fills the outputs given from an IPv4 or IPv6 socket address and answers true; for
    /// anything else clears them and answers false.
    static bool getHost(std::string* host, uint16_t* port, const Bytes& address);
    static bool getHost(std::string* host, uint16_t* port, int* family, const Bytes& address);

    // ---- errors ----
    static Error badConfigError(const std::string& message);
    static Error badParamError(const std::string& message);
    static Error sendTimeoutError();
    static Error socketClosedError();
    static Error otherError(const std::string& message);

    /// State bits (cleared by every close).
    enum Flags : uint32_t {
        flagDidCreateSockets = 1 << 0,
        flagDidBind = 1 << 1,
        flagConnecting = 1 << 2,
        flagDidConnect = 1 << 3,
        flagReceiveOnce = 1 << 4,
        flagReceiveContinuous = 1 << 5,
        flagIPv4Deactivated = 1 << 6,
        flagIPv6Deactivated = 1 << 7,
        flagSend4SourceSuspended = 1 << 8,
        flagSend6SourceSuspended = 1 << 9,
        flagReceive4SourceSuspended = 1 << 10,
        flagReceive6SourceSuspended = 1 << 11,
        flagSock4CanAcceptBytes = 1 << 12,
        flagSock6CanAcceptBytes = 1 << 13,
        flagCloseAfterSends = 1 << 15,
        flagFlipFlop = 1 << 16,
    };
    /// Configuration bits (kept across closes).
    enum Config : uint16_t {
        configIPv4Disabled = 1 << 0,
        configIPv6Disabled = 1 << 1,
        configPreferIPv4 = 1 << 2,
        configPreferIPv6 = 1 << 3,
    };

  private:
    struct DelegateRef {
        DelegateRef() = default;
        explicit DelegateRef(DispatchUdpSocketDelegate* delegate);
        DispatchUdpSocketDelegate* live() const { return token.expired() ? nullptr : ptr; }
        DispatchUdpSocketDelegate* ptr = nullptr;
        std::weak_ptr<int> token;
    };
    using SendItem = std::variant<std::shared_ptr<DispatchUdpSendPacket>,
                                  std::shared_ptr<DispatchUdpConnectPacket>>;
    /// One family's descriptor and sources.
    struct Family {
        int fd = -1;
        std::shared_ptr<dispatch::DescriptorSource> sendSource, receiveSource;
        uint64_t bytesAvailable = 0;
        std::optional<Bytes> cachedLocalAddress;
    };

    // model (DispatchUdpSocket.cpp)
    bool onSocketQueue() const;
    void runSync(const std::function<void()>& fn) const;
    void runAsync(std::function<void()> fn);
    /// What the public operations that do not answer do: at once on the socket queue, else
    /// submitted to it.
    void perform(std::function<void()> fn);
    void notifyDelegate(std::function<void(DispatchUdpSocketDelegate&, DispatchUdpSocket*)> fn);
    bool preOp(Error* error) const;
    void closeWithError(std::optional<Error> error);

    // binding, connecting and options (DispatchUdpSocketBind.cpp)
    bool createSockets(bool useIPv4, bool useIPv6, Error* error);
    bool createSockets(Error* error);
    int createSocket(int domain, Error* error);
    void closeSocket(bool ipv4);
    void closeSockets();
    void convertInterfaceDescription(const std::string& interface, uint16_t port, Bytes* address4,
                                     Bytes* address6) const;
    static void convertNumericHost(const std::string& host, uint16_t port, Bytes* address4,
                                   Bytes* address6);
    void asyncResolveHost(const std::optional<std::string>& host, uint16_t port,
                          std::function<void(std::vector<Bytes>, std::optional<Error>)> done);
    int getAddress(Bytes* address, Error* error, const std::vector<Bytes>& addresses) const;
    bool preBind(Error* error) const;
    bool preConnect(Error* error) const;
    bool preJoin(Error* error) const;
    bool bindSockets(const Bytes& address4, const Bytes& address6, Error* error);
    void maybeConnect();
    bool connectWithAddress(const Bytes& address, int family, Error* error);
    /// Joins or leaves on the socket queue and reports as the public calls do.
    bool multicastRequest(bool join, const std::string& group, const std::string& interface,
                          Error* error);
    bool performMulticastRequest(bool join, const std::string& group, const std::string& interface,
                                 Error* error);
    static unsigned indexOfInterfaceAddr6(const Bytes& address);
    std::optional<Bytes> cachedLocalAddress(bool ipv4);
    bool isConnectedToAddress(const Bytes& address) const;

    // sending and receiving (DispatchUdpSocketIO.cpp)
    void setupSources(bool ipv4);
    void sendSourceFired(bool ipv4);
    void receiveSourceFired(bool ipv4);
    void suspendSendSource(bool ipv4);
    void resumeSendSource(bool ipv4);
    void suspendReceiveSource(bool ipv4);
    void resumeReceiveSource(bool ipv4);
    void queueSend(SendItem item);
    void maybeDequeueSend();
    void doPreSend();
    void doSend();
    void endCurrentSend();
    void finishSend(long tag, std::optional<Error> error);
    void setupSendTimer(double timeout);
    void doSendTimeout();
    bool startReceiving(bool once, Error* error);
    void doReceive();
    /// Reads one datagram and deals with it; answers whether to read the next one now.
    bool receiveOne();
    void receiveFilterAnswered(bool allowed, Bytes data, Bytes address,
                               std::shared_ptr<void> context);
    void deliver(Bytes data, Bytes address, std::shared_ptr<void> context);

    Family& family(bool ipv4) { return ipv4 ? socket4_ : socket6_; }
    const Family& family(bool ipv4) const { return ipv4 ? socket4_ : socket6_; }
    DispatchUdpSendPacket* currentSendPacket() const;

    DelegateRef delegate_;
    QueuePtr delegateQueue_;
    ReceiveFilter receiveFilter_;
    QueuePtr receiveFilterQueue_;
    bool receiveFilterAsync_ = false;
    SendFilter sendFilter_;
    QueuePtr sendFilterQueue_;
    bool sendFilterAsync_ = false;
    uint32_t flags_ = 0;
    uint16_t config_ = 0;
    uint16_t max4ReceiveSize_ = 9216;
    uint32_t max6ReceiveSize_ = 9216;
    Family socket4_, socket6_;
    QueuePtr socketQueue_;
    std::shared_ptr<dispatch::TimerSource> sendTimer_;
    std::optional<SendItem> currentSend_;
    std::deque<SendItem> sendQueue_;
    uint32_t pendingFilterOperations_ = 0;
    std::optional<Bytes> cachedConnectedAddress_;
    int cachedConnectedFamily_ = 0;
    std::shared_ptr<void> userData_;
    Resolver resolver_;
    SendFunction sendFunction_;
    bool deallocating_ = false;
    bool dequeuing_ = false;  // maybeDequeueSend's loop is running
    static constexpr int kReceiveBudget = 64;
    int receiveBudget_ = 0;  // datagrams doReceive may still read without an event
};

}  // namespace quenbril
