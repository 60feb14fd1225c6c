// DispatchUdpSocket: the sources that watch each socket, the send queue with its lookups,
// filters and time-outs, and receiving once, continuously or not at all.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "sockets/DispatchUdpConnectPacket.h"
#include "sockets/DispatchUdpSendPacket.h"
#include "sockets/DispatchUdpSocket.h"

namespace quenbril {

namespace {

constexpr uint32_t canAcceptFlag(bool ipv4) {
    return ipv4 ? DispatchUdpSocket::flagSock4CanAcceptBytes
                : DispatchUdpSocket::flagSock6CanAcceptBytes;
}
constexpr uint32_t sendSuspendedFlag(bool ipv4) {
    return ipv4 ? DispatchUdpSocket::flagSend4SourceSuspended
                : DispatchUdpSocket::flagSend6SourceSuspended;
}
constexpr uint32_t receiveSuspendedFlag(bool ipv4) {
    return ipv4 ? DispatchUdpSocket::flagReceive4SourceSuspended
                : DispatchUdpSocket::flagReceive6SourceSuspended;
}

}  // namespace

// ---- sources ----

void DispatchUdpSocket::setupSources(bool ipv4) {
    Family& f = family(ipv4);
    // The descriptor closes once both sources have let it go.
    auto descriptor = dispatch::SharedDescriptor::adopt(f.fd);
    f.sendSource = dispatch::DescriptorSource::makeWrite(descriptor, socketQueue_);
    f.receiveSource = dispatch::DescriptorSource::makeRead(std::move(descriptor), socketQueue_);
    std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
    f.sendSource->setEventHandler([weak, ipv4] {
        if (auto self = weak.lock()) self->sendSourceFired(ipv4);
    });
    f.receiveSource->setEventHandler([weak, ipv4] {
        if (auto self = weak.lock()) self->receiveSourceFired(ipv4);
    });
    f.bytesAvailable = 0;
    // Sources are made suspended.
    flags_ |= sendSuspendedFlag(ipv4) | receiveSuspendedFlag(ipv4) | canAcceptFlag(ipv4);
}

void DispatchUdpSocket::sendSourceFired(bool ipv4) {
    if (!family(ipv4).sendSource) return;
    flags_ |= canAcceptFlag(ipv4);
    DispatchUdpSendPacket* p = currentSendPacket();
    if (!p || p->resolveInProgress || p->filterInProgress) {
        suspendSendSource(ipv4);
    } else {
        doSend();
    }
}

void DispatchUdpSocket::receiveSourceFired(bool ipv4) {
    Family& f = family(ipv4);
    if (!f.receiveSource) return;
    // A datagram socket never takes "nothing available" for an end of file: an empty datagram
    // is a datagram.
    f.bytesAvailable = std::max<uint64_t>(f.receiveSource->data(), 1);
    doReceive();
}

void DispatchUdpSocket::suspendSendSource(bool ipv4) {
    Family& f = family(ipv4);
    if (f.sendSource && !(flags_ & sendSuspendedFlag(ipv4))) {
        f.sendSource->suspend();
        flags_ |= sendSuspendedFlag(ipv4);
    }
}

void DispatchUdpSocket::resumeSendSource(bool ipv4) {
    Family& f = family(ipv4);
    if (f.sendSource && (flags_ & sendSuspendedFlag(ipv4))) {
        f.sendSource->resume();
        flags_ &= ~sendSuspendedFlag(ipv4);
    }
}

void DispatchUdpSocket::suspendReceiveSource(bool ipv4) {
    Family& f = family(ipv4);
    if (f.receiveSource && !(flags_ & receiveSuspendedFlag(ipv4))) {
        f.receiveSource->suspend();
        flags_ |= receiveSuspendedFlag(ipv4);
    }
}

void DispatchUdpSocket::resumeReceiveSource(bool ipv4) {
    Family& f = family(ipv4);
    if (f.receiveSource && (flags_ & receiveSuspendedFlag(ipv4))) {
        f.receiveSource->resume();
        flags_ &= ~receiveSuspendedFlag(ipv4);
    }
}

// ---- queueing sends ----

DispatchUdpSendPacket* DispatchUdpSocket::currentSendPacket() const {
    if (!currentSend_) return nullptr;
    if (auto* p = std::get_if<std::shared_ptr<DispatchUdpSendPacket>>(&*currentSend_)) {
        return p->get();
    }
    return nullptr;
}

void DispatchUdpSocket::sendData(Bytes data, long tag) { sendData(std::move(data), -1.0, tag); }

void DispatchUdpSocket::sendData(Bytes data, double timeout, long tag) {
    if (data.empty()) return;
    auto packet = std::make_shared<DispatchUdpSendPacket>(
        std::make_shared<const Bytes>(std::move(data)), timeout, tag);
    queueSend(std::move(packet));
}

void DispatchUdpSocket::sendData(Bytes data, const std::optional<std::string>& host, uint16_t port,
                                 double timeout, long tag) {
    if (data.empty()) return;
    auto packet = std::make_shared<DispatchUdpSendPacket>(
        std::make_shared<const Bytes>(std::move(data)), timeout, tag);
    packet->resolveInProgress = true;
    perform([this, packet, host, port] {
        // The lookup runs beside the queue; the packet waits for it only once it is current.
        asyncResolveHost(host, port,
                         [this, packet](std::vector<Bytes> addresses, std::optional<Error> error) {
                             packet->resolveInProgress = false;
                             packet->resolvedAddresses = std::move(addresses);
                             packet->resolveError = std::move(error);
                             if (currentSendPacket() == packet.get()) {
                                 doPreSend();
                             }
                         });
        sendQueue_.push_back(packet);
        maybeDequeueSend();
    });
}

void DispatchUdpSocket::sendData(Bytes data, const Bytes& address, double timeout, long tag) {
    if (data.empty()) return;
    auto packet = std::make_shared<DispatchUdpSendPacket>(
        std::make_shared<const Bytes>(std::move(data)), timeout, tag);
    packet->addressFamily = familyFromAddress(address);
    if (packet->addressFamily == 0) {
        packet->resolveError = badParamError("A valid IPv4 or IPv6 address was not given");
    } else {
        packet->address = address;
    }
    queueSend(std::move(packet));
}

void DispatchUdpSocket::queueSend(SendItem item) {
    perform([this, item = std::move(item)] {
        sendQueue_.push_back(item);
        maybeDequeueSend();
    });
}

void DispatchUdpSocket::setSendFilter(SendFilter filter, QueuePtr queue, bool isAsynchronous) {
    perform([this, filter = std::move(filter), queue = std::move(queue), isAsynchronous] {
        sendFilter_ = filter;
        sendFilterQueue_ = filter ? queue : nullptr;
        sendFilterAsync_ = isAsynchronous;
    });
}

void DispatchUdpSocket::setReceiveFilter(ReceiveFilter filter, QueuePtr queue,
                                         bool isAsynchronous) {
    perform([this, filter = std::move(filter), queue = std::move(queue), isAsynchronous] {
        receiveFilter_ = filter;
        receiveFilterQueue_ = filter ? queue : nullptr;
        receiveFilterAsync_ = isAsynchronous;
    });
}

// ---- the send queue ----

void DispatchUdpSocket::maybeDequeueSend() {
    // A send that ends inside the loop below comes back here: the loop takes the next packet,
    // so a long queue never deepens the stack.
    if (dequeuing_ || currentSend_) return;
    if (!(flags_ & flagDidCreateSockets)) {
        Error error;
        if (!createSockets(&error)) {
            closeWithError(error);
            return;
        }
    }
    dequeuing_ = true;
    while (!currentSend_ && !sendQueue_.empty()) {
        SendItem item = std::move(sendQueue_.front());
        sendQueue_.pop_front();
        if (std::holds_alternative<std::shared_ptr<DispatchUdpConnectPacket>>(item)) {
            currentSend_ = std::move(item);
            dequeuing_ = false;
            maybeConnect();
            return;
        }
        auto& packet = std::get<std::shared_ptr<DispatchUdpSendPacket>>(item);
        if (!packet->resolveInProgress && packet->resolveError) {
            Error error = *packet->resolveError;
            long tag = packet->tag;
            notifyDelegate([tag, error](DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
                d.udpSocketDidNotSendDataWithTag(sock, tag, error);
            });
            continue;
        }
        currentSend_ = std::move(item);
        doPreSend();
    }
    dequeuing_ = false;
    if (!currentSend_ && sendQueue_.empty() && (flags_ & flagCloseAfterSends)) {
        closeWithError(std::nullopt);
    }
}

void DispatchUdpSocket::finishSend(long tag, std::optional<Error> error) {
    if (error) {
        notifyDelegate([tag, e = *error](DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
            d.udpSocketDidNotSendDataWithTag(sock, tag, e);
        });
    } else {
        notifyDelegate([tag](DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
            d.udpSocketDidSendDataWithTag(sock, tag);
        });
    }
    endCurrentSend();
    maybeDequeueSend();
}

void DispatchUdpSocket::doPreSend() {
    DispatchUdpSendPacket* p = currentSendPacket();
    if (!p) return;
    if (!(flags_ & flagDidConnect)) {
        if (p->resolveInProgress) {
            // Writable sockets would fire without end while the lookup runs.
            for (bool ipv4 : {true, false}) {
                if (flags_ & canAcceptFlag(ipv4)) suspendSendSource(ipv4);
            }
            return;
        }
        if (p->resolveError) {
            finishSend(p->tag, p->resolveError);
            return;
        }
        if (p->address.empty()) {
            if (p->resolvedAddresses.empty()) {
                finishSend(p->tag, badConfigError("You must specify destination of packet for a "
                                                  "non-connected socket"));
                return;
            }
            Error error;
            int chosen = getAddress(&p->address, &error, p->resolvedAddresses);
            if (chosen == 0) {
                finishSend(p->tag, error);
                return;
            }
            p->addressFamily = chosen;
        }
    } else {
        const bool lookedUp =
            p->resolveInProgress || !p->resolvedAddresses.empty() || p->resolveError.has_value();
        if (lookedUp) {
            finishSend(p->tag,
                       badConfigError("Cannot specify destination of packet for connected socket"));
            return;
        }
        p->address = cachedConnectedAddress_.value_or(Bytes{});
        p->addressFamily = cachedConnectedFamily_;
    }

    if (!sendFilter_ || !sendFilterQueue_) {
        doSend();
        return;
    }
    SendFilter filter = sendFilter_;
    std::shared_ptr<const Bytes> data = p->buffer;
    Bytes address = p->address;
    long tag = p->tag;
    if (sendFilterAsync_) {
        p->filterInProgress = true;
        auto packet = std::get<std::shared_ptr<DispatchUdpSendPacket>>(*currentSend_);
        std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
        sendFilterQueue_->async([weak, filter, data, address, tag, packet] {
            bool allowed = filter(*data, address, tag);
            auto self = weak.lock();
            if (!self) return;
            self->runAsync([s = self.get(), packet, allowed] {
                packet->filterInProgress = false;
                if (s->currentSendPacket() != packet.get()) return;
                if (allowed) {
                    s->doSend();
                } else {
                    // A datagram the filter holds back counts as handled.
                    s->finishSend(packet->tag, std::nullopt);
                }
            });
        });
    } else {
        bool allowed = false;
        sendFilterQueue_->sync([&] { allowed = filter(*data, address, tag); });
        if (allowed) {
            doSend();
        } else {
            finishSend(tag, std::nullopt);
        }
    }
}

void DispatchUdpSocket::doSend() {
    DispatchUdpSendPacket* p = currentSendPacket();
    if (!p) return;
    const bool connected = flags_ & flagDidConnect;
    const bool ipv4 = p->addressFamily == AF_INET;
    const int fd = family(ipv4).fd;
    const auto* address =
        connected ? nullptr : reinterpret_cast<const sockaddr*>(p->address.data());
    const size_t addressLength = connected ? 0 : p->address.size();
    ssize_t result;
    if (sendFunction_) {
        result = sendFunction_(fd, p->buffer->data(), p->buffer->size(), address, addressLength);
    } else if (connected) {
        result = ::send(fd, p->buffer->data(), p->buffer->size(), MSG_NOSIGNAL);
    } else {
        result = ::sendto(fd, p->buffer->data(), p->buffer->size(), MSG_NOSIGNAL, address,
                          static_cast<socklen_t>(addressLength));
    }
    const int sendErrno = errno;
    flags_ |= flagDidBind;  // a first send binds implicitly

    if (result > 0) {
        finishSend(p->tag, std::nullopt);
        return;
    }
    if (result == 0 || sendErrno == EAGAIN || sendErrno == EWOULDBLOCK) {
        // The socket is full: wait until it takes bytes again, then send from the write event.
        flags_ &= ~canAcceptFlag(ipv4);
        resumeSendSource(ipv4);
        if (!sendTimer_ && p->timeout >= 0) setupSendTimer(p->timeout);
        return;
    }
    finishSend(p->tag, Error::posix(sendErrno, "Error in send() function."));
}

void DispatchUdpSocket::endCurrentSend() {
    if (sendTimer_) {
        sendTimer_->cancel();
        sendTimer_.reset();
    }
    currentSend_.reset();
}

void DispatchUdpSocket::setupSendTimer(double timeout) {
    sendTimer_ = dispatch::TimerSource::make(socketQueue_);
    std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
    sendTimer_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->doSendTimeout();
    });
    sendTimer_->setTimer(timeout);
    sendTimer_->resume();
}

void DispatchUdpSocket::doSendTimeout() {
    DispatchUdpSendPacket* p = currentSendPacket();
    if (!p || !sendTimer_) return;
    finishSend(p->tag, sendTimeoutError());
}

// ---- receiving ----

bool DispatchUdpSocket::receiveOnce(Error* error) { return startReceiving(true, error); }

bool DispatchUdpSocket::beginReceiving(Error* error) { return startReceiving(false, error); }

bool DispatchUdpSocket::startReceiving(bool once, Error* error) {
    const uint32_t mode = once ? flagReceiveOnce : flagReceiveContinuous;
    const uint32_t other = once ? flagReceiveContinuous : flagReceiveOnce;
    bool result = false;
    Error failure;
    runSync([&] {
        if (flags_ & mode) {
            result = true;
            return;
        }
        if (!(flags_ & flagDidCreateSockets)) {
            failure = badConfigError(
                "Must bind socket before you can receive data. You can do this explicitly via "
                "bind, or implicitly via connect or by sending data.");
            return;
        }
        flags_ = (flags_ | mode) & ~other;
        runAsync([this] { doReceive(); });
        result = true;
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

void DispatchUdpSocket::pauseReceiving() {
    perform([this] {
        flags_ &= ~(flagReceiveOnce | flagReceiveContinuous);
        for (bool ipv4 : {true, false}) {
            if (family(ipv4).bytesAvailable > 0) suspendReceiveSource(ipv4);
        }
    });
}

void DispatchUdpSocket::applicationWillEnterForeground() {
    perform([this] {
        resumeReceiveSource(true);
        resumeReceiveSource(false);
    });
}

void DispatchUdpSocket::doReceive() {
    receiveBudget_ = kReceiveBudget;
    while (receiveOne()) {
    }
}

bool DispatchUdpSocket::receiveOne() {
    if (!(flags_ & (flagReceiveOnce | flagReceiveContinuous)) ||
        ((flags_ & flagReceiveOnce) && pendingFilterOperations_ > 0)) {
        // Leave the datagrams in the kernel; a running source would fire without end.
        for (bool ipv4 : {true, false}) {
            if (family(ipv4).bytesAvailable > 0) suspendReceiveSource(ipv4);
        }
        return false;
    }
    if (socket4_.bytesAvailable == 0 && socket6_.bytesAvailable == 0) {
        resumeReceiveSource(true);
        resumeReceiveSource(false);
        return false;
    }
    bool ipv4;
    if (flags_ & flagDidConnect) {
        ipv4 = socket4_.fd != -1;
    } else if (socket4_.bytesAvailable > 0 && socket6_.bytesAvailable == 0) {
        ipv4 = true;
    } else if (socket6_.bytesAvailable > 0 && socket4_.bytesAvailable == 0) {
        ipv4 = false;
    } else {
        // Both have datagrams: take turns.
        ipv4 = flags_ & flagFlipFlop;
    }
    // The other family comes first next time both have datagrams.
    flags_ = ipv4 ? (flags_ & ~flagFlipFlop) : (flags_ | flagFlipFlop);
    Family& f = family(ipv4);
    const size_t max = ipv4 ? max4ReceiveSize_ : max6ReceiveSize_;
    Bytes data(max);
    sockaddr_in6 from{};
    iovec vector{data.data(), data.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    // MSG_TRUNC answers the datagram's whole length, so one that does not fit is seen.
    ssize_t result = ::recvmsg(f.fd, &message, MSG_TRUNC);
    const int receiveErrno = errno;

    if (result <= 0) {
        f.bytesAvailable = 0;
        if (result == 0 || receiveErrno == EAGAIN || receiveErrno == EWOULDBLOCK) {
            // Nothing, or an empty datagram (consumed, never delivered): wait for the next one.
            for (bool which : {true, false}) {
                if (family(which).bytesAvailable == 0) resumeReceiveSource(which);
            }
            return socket4_.bytesAvailable > 0 || socket6_.bytesAvailable > 0;
        }
        closeWithError(Error::posix(receiveErrno, "Error in recvfrom() function"));
        return false;
    }
    const auto length = static_cast<size_t>(result);
    f.bytesAvailable -= std::min<uint64_t>(length, f.bytesAvailable);
    // The read source measures only the first datagram waiting: look for more (on both
    // families, which keeps their turns) before waiting for the next event, a bounded number of
    // times so that other work gets its turn.
    if (f.bytesAvailable == 0 && receiveBudget_ > 0) {
        --receiveBudget_;
        for (bool which : {true, false}) {
            Family& other = family(which);
            if (other.fd != -1 && other.bytesAvailable == 0) other.bytesAvailable = 1;
        }
    }
    Bytes address(reinterpret_cast<const uint8_t*>(&from),
                  reinterpret_cast<const uint8_t*>(&from) + message.msg_namelen);

    bool delivered = false;
    bool pending = false;
    if (length > max) {
        // Never delivered cut short: dropped whole, with one line.
        log(LogLevel::Warning,
            "DispatchUdpSocket: dropped a datagram of %zu bytes from %s:%u "
            "over the receive limit of %zu bytes",
            length, hostFromAddress(address).value_or("?").c_str(), portFromAddress(address), max);
    } else if ((flags_ & flagDidConnect) && !isConnectedToAddress(address)) {
        // A connected socket hears only its peer.
    } else {
        if (length < max) data.resize(length);
        if (!receiveFilter_ || !receiveFilterQueue_) {
            deliver(std::move(data), std::move(address), nullptr);
            delivered = true;
        } else if (receiveFilterAsync_) {
            ++pendingFilterOperations_;
            pending = true;
            ReceiveFilter filter = receiveFilter_;
            std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
            receiveFilterQueue_->async(
                [weak, filter, data = std::move(data), address = std::move(address)]() mutable {
                    std::shared_ptr<void> context;
                    bool allowed = filter(data, address, &context);
                    auto self = weak.lock();
                    if (!self) return;
                    self->runAsync([s = self.get(), allowed, data = std::move(data),
                                    address = std::move(address), context]() mutable {
                        s->receiveFilterAnswered(allowed, std::move(data), std::move(address),
                                                 std::move(context));
                    });
                });
        } else {
            std::shared_ptr<void> context;
            bool allowed = false;
            receiveFilterQueue_->sync([&] { allowed = receiveFilter_(data, address, &context); });
            if (allowed) {
                deliver(std::move(data), std::move(address), std::move(context));
                delivered = true;
            }
        }
    }

    if (flags_ & flagReceiveContinuous) return true;
    if (flags_ & flagReceiveOnce) {
        if (delivered) {
            flags_ &= ~flagReceiveOnce;
            return false;
        }
        return !pending;
    }
    return false;
}

void DispatchUdpSocket::receiveFilterAnswered(bool allowed, Bytes data, Bytes address,
                                              std::shared_ptr<void> context) {
    if (pendingFilterOperations_ > 0) --pendingFilterOperations_;
    if (allowed) deliver(std::move(data), std::move(address), std::move(context));
    if (flags_ & flagReceiveOnce) {
        if (allowed) {
            flags_ &= ~flagReceiveOnce;
        } else if (pendingFilterOperations_ == 0) {
            doReceive();
        }
    }
}

void DispatchUdpSocket::deliver(Bytes data, Bytes address, std::shared_ptr<void> context) {
    notifyDelegate(
        [data = std::move(data), address = std::move(address), context = std::move(context)](
            DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
            d.udpSocketDidReceiveData(sock, data, address, context);
        });
}

}  // namespace quenbril
