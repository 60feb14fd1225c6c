#include "sockets/RunLoopUdpSocket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "sockets/DispatchSocket.h"
#include "sockets/RunLoopHostAddresses.h"
#include "sockets/RunLoopModes.h"
#include "sockets/RunLoopSocketException.h"
#include "sockets/RunLoopSocketMove.h"

namespace quenbril {

namespace {

constexpr size_t kAddress4Length = sizeof(sockaddr_in);
constexpr size_t kAddress6Length = sizeof(sockaddr_in6);

Bytes bytesOf(const void* address, size_t length) {
    const auto* p = static_cast<const uint8_t*>(address);
    return Bytes(p, p + length);
}

/// The addresses for `host` and `port`; the resolver's code, or 0.
int convertHost(const std::string& host, uint16_t port, bool passive, std::optional<Bytes>* a4,
                std::optional<Bytes>* a6) {
    RunLoopHostAddresses addresses;
    int code = addresses.convert(host, port, passive, SOCK_DGRAM);
    *a4 = std::move(addresses.address4);
    *a6 = std::move(addresses.address6);
    return code;
}

int makeSocket(int family) {
    int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        log(LogLevel::Warning, "RunLoopUdpSocket: cannot make a socket (errno %d)", errno);
        return -1;
    }
    if (family == AF_INET6) {
        // Each family has its own socket, so that both may bind the same port.
        int on = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    return fd;
}

bool pollFor(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (events | POLLERR | POLLHUP));
}

void setError(Error* out, Error value) {
    if (out) *out = std::move(value);
}

}  // namespace

// ---- creation ----

std::shared_ptr<RunLoopUdpSocket> RunLoopUdpSocket::make(RunLoopUdpSocketDelegate* delegate,
                                                         long userData, bool enableIPv4,
                                                         bool enableIPv6, RunLoop* loop) {
    return std::make_shared<RunLoopUdpSocket>(Passkey{}, delegate, userData, enableIPv4, enableIPv6,
                                              loop ? *loop : RunLoop::main());
}

std::shared_ptr<RunLoopUdpSocket> RunLoopUdpSocket::makeIPv4(RunLoopUdpSocketDelegate* delegate,
                                                             RunLoop* loop) {
    return make(delegate, 0, true, false, loop);
}

std::shared_ptr<RunLoopUdpSocket> RunLoopUdpSocket::makeIPv6(RunLoopUdpSocketDelegate* delegate,
                                                             RunLoop* loop) {
    return make(delegate, 0, false, true, loop);
}

RunLoopUdpSocket::RunLoopUdpSocket(Passkey, RunLoopUdpSocketDelegate* delegate, long userData,
                                   bool enableIPv4, bool enableIPv6, RunLoop& loop)
    : runLoop_(&loop), modes_(RunLoopModes::defaults()), delegate_(delegate), userData_(userData) {
    if (enableIPv4) socket4_ = makeSocket(AF_INET);
    if (enableIPv6) socket6_ = makeSocket(AF_INET6);
}

RunLoopUdpSocket::~RunLoopUdpSocket() {
    closeNow(false);
    performs_.cancelAll();
}

// ---- errors ----

Error RunLoopUdpSocket::socketError() {
    return Error::make(kErrorDomain, CFSocketError, "General CFSocket error");
}
Error RunLoopUdpSocket::ipv4UnavailableError() {
    return Error::make(kErrorDomain, IPv4UnavailableError,
                       "IPv4 is unavailable due to binding/connecting using IPv6 only");
}
Error RunLoopUdpSocket::ipv6UnavailableError() {
    return Error::make(kErrorDomain, IPv6UnavailableError,
                       "IPv6 is unavailable due to binding/connecting using IPv4 only or is not "
                       "supported on this platform");
}
Error RunLoopUdpSocket::sendTimeoutError() {
    return Error::make(kErrorDomain, SendTimeoutError, "Send operation timed out");
}
Error RunLoopUdpSocket::receiveTimeoutError() {
    return Error::make(kErrorDomain, ReceiveTimeoutError, "Receive operation timed out");
}

void RunLoopUdpSocket::raise(const std::string& reason) {
    throw RunLoopSocketException(kExceptionName, reason);
}

// ---- run loop ----

bool RunLoopUdpSocket::attached() const { return runLoop_ && RunLoopModes::runs(modes_); }

void RunLoopUdpSocket::perform(void (RunLoopUdpSocket::*task)()) {
    if (!attached()) return;
    performs_.perform(*runLoop_, [weak = weak_from_this(), task] {
        if (auto self = weak.lock()) ((*self).*task)();
    });
}

void RunLoopUdpSocket::attach() {
    if (!attached()) return;
    sendTimer_.attach(*runLoop_);
    receiveTimer_.attach(*runLoop_);
}

void RunLoopUdpSocket::detach() {
    performs_.cancelAll();
    flags_ &= ~(flagDequeueSendScheduled | flagDequeueReceiveScheduled);
    read4_.cancel();
    read6_.cancel();
    write4_.cancel();
    write6_.cancel();
    sendTimer_.detach();
    receiveTimer_.detach();
}

bool RunLoopUdpSocket::moveToRunLoop(RunLoop* loop) {
    return moveSocketToRunLoop(*this, &RunLoopUdpSocket::runLoop_, loop, &RunLoopUdpSocket::detach,
                               &RunLoopUdpSocket::resumeOnRunLoop);
}

void RunLoopUdpSocket::resumeOnRunLoop() {
    attach();
    maybeDequeueSend();
    maybeDequeueReceive();
    maybeScheduleClose();
}

bool RunLoopUdpSocket::setRunLoopModes(const std::vector<std::string>& modes) {
    if (modes.empty()) return false;
    if (modes == modes_) return true;
    detach();
    modes_ = modes;
    attach();
    perform(&RunLoopUdpSocket::maybeDequeueSend);
    perform(&RunLoopUdpSocket::maybeDequeueReceive);
    perform(&RunLoopUdpSocket::maybeScheduleClose);
    return true;
}

void RunLoopUdpSocket::checkForThreadSafety() const {
    if (runLoop_ && !runLoop_->isCurrentThread()) {
        raise("Attempting to access RunLoopUdpSocket instance from incorrect thread.");
    }
}

// ---- binding and connecting ----

bool RunLoopUdpSocket::bindToPort(uint16_t port, Error* error) {
    return bindToAddress({}, port, error);
}

bool RunLoopUdpSocket::bindToAddress(const std::string& host, uint16_t port, Error* error) {
    if (flags_ & flagDidClose) raise("The socket is closed.");
    if (flags_ & flagBound) raise("Cannot bind a socket more than once.");
    if (flags_ & flagConnected) {
        raise("Cannot bind after connecting. If needed, bind first, then connect.");
    }
    std::optional<Bytes> a4, a6;
    if (int code = convertHost(host, port, true, &a4, &a6); code != 0) {
        setError(error, DispatchSocket::gaiError(code));
        return false;
    }
    int on = 1;
    for (int fd : {socket4_, socket6_}) {
        if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    auto bindTo = [](int fd, const Bytes& a) {
        return ::bind(fd, reinterpret_cast<const sockaddr*>(a.data()), a.size()) == 0;
    };
    if (a4 && socket4_ >= 0) {
        if (!bindTo(socket4_, *a4)) {
            setError(error, socketError());
            return false;
        }
        if (!a6) {
            closeSocket(Family::V6);
            flags_ |= flagBound;
            return true;
        }
    } else if (a4 && !a6) {
        setError(error, ipv4UnavailableError());
        return false;
    } else if (!a4) {
        if (socket6_ < 0 || !a6) {
            setError(error, ipv6UnavailableError());
            return false;
        }
        if (!bindTo(socket6_, *a6)) {
            setError(error, socketError());
            return false;
        }
        closeSocket(Family::V4);
        flags_ |= flagBound;
        return true;
    }
    if (socket6_ >= 0 && !bindTo(socket6_, *a6)) {
        setError(error, socketError());
        return false;
    }
    flags_ |= flagBound;
    return true;
}

bool RunLoopUdpSocket::connectToHost(const std::string& host, uint16_t port, Error* error) {
    if (flags_ & flagDidClose) raise("The socket is closed.");
    if (flags_ & flagConnected) raise("Cannot connect a socket more than once.");
    std::optional<Bytes> a4, a6;
    if (int code = convertHost(host, port, false, &a4, &a6); code != 0) {
        setError(error, DispatchSocket::gaiError(code));
        return false;
    }
    if (a4 && socket4_ >= 0) return connectToAddress(*a4, error);
    if (a4 && !a6) {
        setError(error, ipv4UnavailableError());
        return false;
    }
    if (!a6) {
        // A name with neither address must not fail without saying why.
        setError(error, DispatchSocket::gaiError(EAI_FAIL));
        return false;
    }
    if (socket6_ < 0) {
        setError(error, ipv6UnavailableError());
        return false;
    }
    return connectToAddress(*a6, error);
}

bool RunLoopUdpSocket::connectToAddress(const Bytes& address, Error* error) {
    if (flags_ & flagDidClose) raise("The socket is closed.");
    if (flags_ & flagConnected) raise("Cannot connect a socket more than once.");
    Family family;
    if (address.size() == kAddress4Length) {
        family = Family::V4;
    } else if (address.size() == kAddress6Length) {
        family = Family::V6;
    } else {
        setError(error, Error::make(kErrorDomain, BadParameterError,
                                    "remoteAddr parameter is not a valid address"));
        return false;
    }
    int fd = fdOf(family);
    if (fd < 0) {
        setError(error, family == Family::V4 ? ipv4UnavailableError() : ipv6UnavailableError());
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address.data()), address.size()) != 0) {
        setError(error, socketError());
        return false;
    }
    flags_ |= flagConnected;
    closeSocket(family == Family::V4 ? Family::V6 : Family::V4);
    return true;
}

bool RunLoopUdpSocket::joinMulticastGroup(const std::string& group, Error* error) {
    return joinMulticastGroup(group, {}, error);
}

bool RunLoopUdpSocket::joinMulticastGroup(const std::string& group,
                                          const std::string& interfaceAddress, Error* error) {
    if (flags_ & flagDidClose) raise("The socket is closed.");
    if (!(flags_ & flagBound)) raise("Must bind a socket before joining a multicast group.");
    if (flags_ & flagConnected) raise("Cannot join a multicast group if connected.");
    std::optional<Bytes> if4, if6, group4, group6;
    auto netdbError = [](const char* what, int code) {
        Error e = DispatchSocket::gaiError(code);
        e.description = std::string("Invalid parameter '") + what + "': " + e.description;
        return e;
    };
    if (int code = convertHost(interfaceAddress, 0, true, &if4, &if6); code != 0) {
        setError(error, netdbError("address", code));
        return false;
    }
    if (int code = convertHost(group, 0, true, &group4, &group6); code != 0) {
        setError(error, netdbError("group", code));
        return false;
    }
    // The call's result is always -1 on failure: the code carries errno, which says why.
    auto joinFailed = [&](const char* text) {
        setError(error, Error::make(kPosixStreamDomain, errno, text));
        return false;
    };
    if (socket4_ >= 0 && group4 && if4) {
        ip_mreq request{};
        request.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(group4->data())->sin_addr;
        request.imr_interface = reinterpret_cast<const sockaddr_in*>(if4->data())->sin_addr;
        if (setsockopt(socket4_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
            return joinFailed("Unable to join IPv4 multicast group");
        }
        closeSocket(Family::V6);
        return true;
    }
    if (socket6_ >= 0 && group6 && if6) {
        ipv6_mreq request{};
        request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6*>(group6->data())->sin6_addr;
        request.ipv6mr_interface = 0;
        if (setsockopt(socket6_, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request) != 0) {
            return joinFailed("Unable to join IPv6 multicast group");
        }
        closeSocket(Family::V4);
        return true;
    }
    setError(error, Error::make(kErrorDomain, BadParameterError,
                                "Invalid group and/or address, not matching existing socket(s)"));
    return false;
}

bool RunLoopUdpSocket::enableBroadcast(bool flag, Error* error) {
    if (socket4_ < 0) return true;
    int value = flag ? 1 : 0;
    if (setsockopt(socket4_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
        setError(error, Error::make(kPosixStreamDomain, errno,
                                    "Unable to enable broadcast message sending"));
        return false;
    }
    return true;
}

// ---- readiness ----

void RunLoopUdpSocket::watch(Family family, bool forWriting) {
    int fd = fdOf(family);
    if (fd < 0 || !attached()) return;
    DescriptorWatch& w = forWriting ? writeWatchOf(family) : readWatchOf(family);
    if (w.isActive()) return;
    w = runLoop_->watchDescriptor(
        fd, forWriting ? RunLoop::Condition::Writable : RunLoop::Condition::Readable,
        [weak = weak_from_this(), family, forWriting] {
            if (auto self = weak.lock()) self->watchFired(family, forWriting);
        });
}

void RunLoopUdpSocket::watchFired(Family family, bool writable) {
    // A watch serves one wait: it is made again when the socket next waits.
    if (writable) {
        writeWatchOf(family).cancel();
        flags_ |= canAcceptFlag(family);
        doSend(family);
    } else {
        readWatchOf(family).cancel();
        flags_ |= hasBytesFlag(family);
        datagramsThisPass_ = 0;
        doReceive(family);
    }
}

bool RunLoopUdpSocket::canAcceptBytes(Family family) {
    if (flags_ & canAcceptFlag(family)) return true;
    return fdOf(family) >= 0 && pollFor(fdOf(family), POLLOUT);
}

bool RunLoopUdpSocket::hasBytesAvailable(Family family) {
    if (flags_ & hasBytesFlag(family)) return true;
    return fdOf(family) >= 0 && pollFor(fdOf(family), POLLIN);
}

RunLoopUdpSocket::Family RunLoopUdpSocket::familyForPacket(const RunLoopSendPacket& packet) const {
    if (socket4_ < 0) return Family::V6;
    if (socket6_ < 0) return Family::V4;
    return packet.address.size() == kAddress4Length ? Family::V4 : Family::V6;
}

// ---- sending ----

bool RunLoopUdpSocket::sendData(const Bytes& data, double timeout, long tag) {
    if (data.empty() || (flags_ & (flagDidClose | flagForbidSendReceive))) return false;
    if (!(flags_ & flagConnected)) return false;
    sendQueue_.emplace_back(data, Bytes{}, timeout, tag);
    scheduleDequeueSend();
    return true;
}

bool RunLoopUdpSocket::sendData(const Bytes& data, const std::string& host, uint16_t port,
                                double timeout, long tag) {
    if (data.empty() || (flags_ & (flagDidClose | flagForbidSendReceive))) return false;
    if (flags_ & flagConnected) return false;
    std::optional<Bytes> a4, a6;
    if (convertHost(host, port, false, &a4, &a6) != 0) return false;
    if (a4 && socket4_ >= 0) return sendData(data, *a4, timeout, tag);
    if (a6 && socket6_ >= 0) return sendData(data, *a6, timeout, tag);
    return false;
}

bool RunLoopUdpSocket::sendData(const Bytes& data, const Bytes& address, double timeout, long tag) {
    if (data.empty() || (flags_ & (flagDidClose | flagForbidSendReceive))) return false;
    if (flags_ & flagConnected) return false;
    if (address.size() == kAddress4Length && socket4_ < 0) return false;
    if (address.size() == kAddress6Length && socket6_ < 0) return false;
    if (address.size() != kAddress4Length && address.size() != kAddress6Length) return false;
    sendQueue_.emplace_back(data, address, timeout, tag);
    scheduleDequeueSend();
    return true;
}

void RunLoopUdpSocket::scheduleDequeueSend() {
    if (flags_ & flagDequeueSendScheduled) return;
    flags_ |= flagDequeueSendScheduled;
    perform(&RunLoopUdpSocket::maybeDequeueSend);
}

void RunLoopUdpSocket::maybeDequeueSend() {
    flags_ &= ~flagDequeueSendScheduled;
    if (!currentSend_ && !sendQueue_.empty()) {
        currentSend_ = std::move(sendQueue_.front());
        sendQueue_.pop_front();
        if (currentSend_->timeout >= 0) {
            sendTimer_.start(*runLoop_, currentSend_->timeout, attached(),
                             [this] { doSendTimeout(); });
        }
        doSend(familyForPacket(*currentSend_));
    } else if (!currentSend_ && (flags_ & flagCloseAfterSends)) {
        bool receivesLeft = currentReceive_ || !receiveQueue_.empty();
        if (!(flags_ & flagCloseAfterReceives) || !receivesLeft) close();
    }
}

void RunLoopUdpSocket::doSend(Family family) {
    if (!currentSend_ || familyForPacket(*currentSend_) != family) return;
    auto self = shared_from_this();
    if (!canAcceptBytes(family)) {
        watch(family, true);
        return;
    }
    const RunLoopSendPacket& packet = *currentSend_;
    int fd = fdOf(family);
    ssize_t result;
    if (flags_ & flagConnected) {
        result = ::send(fd, packet.buffer.data(), packet.buffer.size(), MSG_NOSIGNAL);
    } else {
        result = ::sendto(fd, packet.buffer.data(), packet.buffer.size(), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(packet.address.data()),
                          packet.address.size());
    }
    flags_ &= ~canAcceptFlag(family);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // The buffer filled between the check and the send: wait for room.
        watch(family, true);
        return;
    }
    if (result < 0) {
        failCurrentSend(Error::posix(errno));
    } else {
        flags_ |= flagBound;
        completeCurrentSend();
    }
    scheduleDequeueSend();
}

void RunLoopUdpSocket::completeCurrentSend() {
    long tag = currentSend_->tag;
    if (delegate_) delegate_->onUdpSocketDidSendDataWithTag(this, tag);
    endCurrentSend();
}

void RunLoopUdpSocket::failCurrentSend(const Error& error) {
    long tag = currentSend_->tag;
    if (delegate_) delegate_->onUdpSocketDidNotSendDataWithTag(this, tag, error);
    endCurrentSend();
}

void RunLoopUdpSocket::endCurrentSend() {
    sendTimer_.invalidate();
    currentSend_.reset();
}

void RunLoopUdpSocket::doSendTimeout() {
    if (!currentSend_) return;
    auto self = shared_from_this();
    failCurrentSend(sendTimeoutError());
    scheduleDequeueSend();
}

// ---- receiving ----

void RunLoopUdpSocket::receiveWithTimeout(double timeout, long tag) {
    if (flags_ & (flagDidClose | flagForbidSendReceive)) return;
    receiveQueue_.emplace_back(timeout, tag);
    scheduleDequeueReceive();
}

void RunLoopUdpSocket::scheduleDequeueReceive() {
    if (flags_ & flagDequeueReceiveScheduled) return;
    flags_ |= flagDequeueReceiveScheduled;
    perform(&RunLoopUdpSocket::maybeDequeueReceive);
}

void RunLoopUdpSocket::maybeDequeueReceive() {
    flags_ &= ~flagDequeueReceiveScheduled;
    if (!currentReceive_ && !receiveQueue_.empty()) {
        auto self = shared_from_this();
        currentReceive_ = std::move(receiveQueue_.front());
        receiveQueue_.pop_front();
        if (currentReceive_->timeout >= 0) {
            receiveTimer_.start(*runLoop_, currentReceive_->timeout, attached(),
                                [this] { doReceiveTimeout(); });
        }
        bool v4First = flags_ & flagFlipFlop;
        flags_ ^= flagFlipFlop;
        doReceive(v4First ? Family::V4 : Family::V6);
        doReceive(v4First ? Family::V6 : Family::V4);
    } else if (!currentReceive_ && (flags_ & flagCloseAfterReceives)) {
        bool sendsLeft = currentSend_ || !sendQueue_.empty();
        if (!(flags_ & flagCloseAfterSends) || !sendsLeft) close();
    }
}

void RunLoopUdpSocket::doReceive(Family family) {
    auto self = shared_from_this();
    while (currentReceive_ && fdOf(family) >= 0) {
        if (datagramsThisPass_ >= kMaxDatagramsPerPass || !hasBytesAvailable(family)) {
            // Past the cap the loop gets its turn first; the level-triggered watch brings the
            // socket back on its next pass.
            watch(family, false);
            return;
        }
        int fd = fdOf(family);
        Bytes buffer(maxReceiveBufferSize_);
        sockaddr_storage from{};
        socklen_t fromLength = family == Family::V4 ? kAddress4Length : kAddress6Length;
        // MSG_TRUNC makes the call return the datagram's full length, so that one too large
        // for the buffer is reported rather than delivered cut short.
        ssize_t result = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                    reinterpret_cast<sockaddr*>(&from), &fromLength);
        flags_ &= ~hasBytesFlag(family);
        if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        ++datagramsThisPass_;
        if (result < 0 || static_cast<size_t>(result) > buffer.size()) {
            failCurrentReceive(Error::posix(result < 0 ? errno : EMSGSIZE));
            scheduleDequeueReceive();
            return;
        }
        Bytes sender = bytesOf(&from, fromLength);
        std::string host;
        uint16_t port = 0;
        DispatchSocket::getHost(&host, &port, sender);
        if ((flags_ & flagConnected) &&
            (host != connectedHost().value_or("") || port != connectedPort())) {
            continue;
        }
        buffer.resize(static_cast<size_t>(result));
        currentReceive_->buffer = std::move(buffer);
        currentReceive_->host = host;
        currentReceive_->port = port;
        if (maybeCompleteCurrentReceive()) return;
    }
}

bool RunLoopUdpSocket::maybeCompleteCurrentReceive() {
    RunLoopReceivePacket& packet = *currentReceive_;
    std::optional<bool> taken;
    if (delegate_) {
        taken = delegate_->onUdpSocketDidReceiveData(this, *packet.buffer, packet.tag, *packet.host,
                                                     packet.port);
    }
    if (!currentReceive_) return true;  // the delegate closed the socket
    if (taken.value_or(true)) {
        endCurrentReceive();
        scheduleDequeueReceive();
        return true;
    }
    currentReceive_->buffer.reset();
    currentReceive_->host.reset();
    return false;
}

void RunLoopUdpSocket::failCurrentReceive(const Error& error) {
    long tag = currentReceive_->tag;
    if (delegate_) delegate_->onUdpSocketDidNotReceiveDataWithTag(this, tag, error);
    endCurrentReceive();
}

void RunLoopUdpSocket::endCurrentReceive() {
    receiveTimer_.invalidate();
    currentReceive_.reset();
}

void RunLoopUdpSocket::doReceiveTimeout() {
    if (!currentReceive_) return;
    auto self = shared_from_this();
    failCurrentReceive(receiveTimeoutError());
    scheduleDequeueReceive();
}

// ---- closing ----

void RunLoopUdpSocket::emptyQueues() {
    if (currentSend_) endCurrentSend();
    if (currentReceive_) endCurrentReceive();
    sendQueue_.clear();
    receiveQueue_.clear();
    performs_.cancelAll();
    flags_ &= ~(flagDequeueSendScheduled | flagDequeueReceiveScheduled);
}

void RunLoopUdpSocket::closeSocket(Family family) {
    readWatchOf(family).cancel();
    writeWatchOf(family).cancel();
    int& fd = fdOf(family);
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void RunLoopUdpSocket::close() { closeNow(true); }

void RunLoopUdpSocket::closeNow(bool tellDelegate) {
    emptyQueues();
    closeSocket(Family::V4);
    closeSocket(Family::V6);
    bool wasClosed = flags_ & flagDidClose;
    flags_ |= flagDidClose;
    if (!tellDelegate || wasClosed || !delegate_ || !attached()) return;
    performs_.perform(*runLoop_, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (self && self->delegate_) self->delegate_->onUdpSocketDidClose(self.get());
    });
}

void RunLoopUdpSocket::closeAfterSending() {
    if (flags_ & flagDidClose) return;
    flags_ |= flagForbidSendReceive | flagCloseAfterSends;
    maybeScheduleClose();
}

void RunLoopUdpSocket::closeAfterReceiving() {
    if (flags_ & flagDidClose) return;
    flags_ |= flagForbidSendReceive | flagCloseAfterReceives;
    maybeScheduleClose();
}

void RunLoopUdpSocket::closeAfterSendingAndReceiving() {
    if (flags_ & flagDidClose) return;
    flags_ |= flagForbidSendReceive | flagCloseAfterSends | flagCloseAfterReceives;
    maybeScheduleClose();
}

void RunLoopUdpSocket::maybeScheduleClose() {
    if (flags_ & flagDidClose) return;
    bool sendsLeft = currentSend_ || !sendQueue_.empty();
    bool receivesLeft = currentReceive_ || !receiveQueue_.empty();
    bool afterSends = flags_ & flagCloseAfterSends;
    bool afterReceives = flags_ & flagCloseAfterReceives;
    if (!afterSends && !afterReceives) return;
    if ((afterSends && sendsLeft) || (afterReceives && receivesLeft)) return;
    perform(&RunLoopUdpSocket::close);
}

// ---- state ----

std::optional<Bytes> RunLoopUdpSocket::address(bool peer) const {
    int fd = socket4_ >= 0 ? socket4_ : socket6_;
    if (fd < 0) return std::nullopt;
    sockaddr_storage a{};
    socklen_t length = socket4_ >= 0 ? kAddress4Length : kAddress6Length;
    auto* sa = reinterpret_cast<sockaddr*>(&a);
    int result = peer ? getpeername(fd, sa, &length) : getsockname(fd, sa, &length);
    if (result != 0) return std::nullopt;
    return bytesOf(&a, length);
}

std::optional<std::string> RunLoopUdpSocket::localHost() {
    if (cachedLocalHost_) return cachedLocalHost_;
    auto a = address(false);
    if (!a) return std::nullopt;
    auto host = DispatchSocket::hostFromAddress(*a);
    if (flags_ & flagBound) cachedLocalHost_ = host;
    return host;
}

uint16_t RunLoopUdpSocket::localPort() {
    if (cachedLocalPort_ != 0) return cachedLocalPort_;
    auto a = address(false);
    if (!a) return 0;
    uint16_t port = DispatchSocket::portFromAddress(*a);
    if (flags_ & flagBound) cachedLocalPort_ = port;
    return port;
}

std::optional<std::string> RunLoopUdpSocket::connectedHost() {
    if (cachedConnectedHost_) return cachedConnectedHost_;
    auto a = address(true);
    if (!a) return std::nullopt;
    auto host = DispatchSocket::hostFromAddress(*a);
    if (flags_ & flagConnected) cachedConnectedHost_ = host;
    return host;
}

uint16_t RunLoopUdpSocket::connectedPort() {
    if (cachedConnectedPort_ != 0) return cachedConnectedPort_;
    auto a = address(true);
    if (!a) return 0;
    uint16_t port = DispatchSocket::portFromAddress(*a);
    if (flags_ & flagConnected) cachedConnectedPort_ = port;
    return port;
}

bool RunLoopUdpSocket::isConnected() const {
    return (flags_ & flagConnected) && !(flags_ & flagDidClose);
}

bool RunLoopUdpSocket::isConnectedToHost(const std::string& host, uint16_t port) {
    return connectedHost() == host && connectedPort() == port;
}

bool RunLoopUdpSocket::isClosed() const { return flags_ & flagDidClose; }

uint32_t RunLoopUdpSocket::maximumTransmissionUnit() const {
    int fd = socket4_ >= 0 ? socket4_ : socket6_;
    auto local = address(false);
    if (fd < 0 || !local) return 0;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return 0;
    sa_family_t family;
    std::memcpy(&family, local->data(), sizeof family);
    std::string name;
    for (ifaddrs* i = interfaces; i && name.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != family) continue;
        if (i->ifa_addr->sa_family == AF_INET) {
            auto* mine = reinterpret_cast<const sockaddr_in*>(local->data());
            auto* theirs = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (mine->sin_addr.s_addr == theirs->sin_addr.s_addr) name = i->ifa_name;
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            auto* mine = reinterpret_cast<const sockaddr_in6*>(local->data());
            auto* theirs = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            if (std::memcmp(&mine->sin6_addr, &theirs->sin6_addr, sizeof mine->sin6_addr) == 0) {
                name = i->ifa_name;
            }
        }
    }
    freeifaddrs(interfaces);
    if (name.empty() || name.size() >= IFNAMSIZ) return 0;
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    if (ioctl(fd, SIOCGIFMTU, &request) != 0) return 0;
    return static_cast<uint32_t>(request.ifr_mtu);
}

}  // namespace quenbril
