// DispatchUdpSocket: the model, its queues, the delegate, state queries, closing and the errors.

#include "sockets/DispatchUdpSocket.h"

#include <sys/socket.h>

#include "foundation/Log.h"
#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "sockets/DispatchSocket.h"
#include "sockets/DispatchUdpConnectPacket.h"
#include "sockets/DispatchUdpSendPacket.h"

namespace quenbril {

// ---- creation ----

std::shared_ptr<DispatchUdpSocket> DispatchUdpSocket::make(DispatchUdpSocketDelegate* delegate,
                                                           QueuePtr delegateQueue,
                                                           QueuePtr socketQueue) {
    return std::make_shared<DispatchUdpSocket>(Passkey{}, delegate, std::move(delegateQueue),
                                               std::move(socketQueue));
}

DispatchUdpSocket::DispatchUdpSocket(Passkey, DispatchUdpSocketDelegate* delegate,
                                     QueuePtr delegateQueue, QueuePtr socketQueue)
    : delegate_(delegate),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue_(std::move(socketQueue)) {
    if (!socketQueue_) socketQueue_ = dispatch::Queue::makeSerial("DispatchUdpSocket");
    // The key is this socket's own address, so each socket has a key of its own.
    socketQueue_->setSpecific(this, this);
}

DispatchUdpSocket::~DispatchUdpSocket() {
    log(LogLevel::Debug, "Socket dealloc");
    deallocating_ = true;
    runSync([this] { closeWithError(std::nullopt); });
    socketQueue_->setSpecific(this, nullptr);
}

DispatchUdpSocket::DelegateRef::DelegateRef(DispatchUdpSocketDelegate* delegate) : ptr(delegate) {
    if (delegate) token = delegate->lifeToken_;
}

// ---- queues ----

bool DispatchUdpSocket::onSocketQueue() const {
    return dispatch::Queue::currentSpecific(this) == this;
}

void DispatchUdpSocket::runSync(const std::function<void()>& fn) const {
    if (onSocketQueue()) {
        fn();
    } else {
        socketQueue_->sync(fn);
    }
}

void DispatchUdpSocket::runAsync(std::function<void()> fn) {
    std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
    socketQueue_->async([weak, fn = std::move(fn)] {
        if (auto self = weak.lock()) fn();
    });
}

void DispatchUdpSocket::perform(std::function<void()> fn) {
    if (onSocketQueue()) {
        fn();
    } else {
        runAsync(std::move(fn));
    }
}

void DispatchUdpSocket::notifyDelegate(
    std::function<void(DispatchUdpSocketDelegate&, DispatchUdpSocket*)> fn) {
    if (!delegateQueue_ || !delegate_.ptr) return;
    DelegateRef ref = delegate_;
    std::shared_ptr<DispatchUdpSocket> self = deallocating_ ? nullptr : weak_from_this().lock();
    delegateQueue_->async([ref, self, fn = std::move(fn)] {
        if (auto alive = ref.token.lock()) fn(*ref.ptr, self.get());
    });
}

bool DispatchUdpSocket::preOp(Error* error) const {
    if (!delegate_.live()) {
        if (error) {
            *error = badConfigError(
                "Attempting to use socket without a delegate. Set a delegate first.");
        }
        return false;
    }
    if (!delegateQueue_) {
        if (error) {
            *error = badConfigError(
                "Attempting to use socket without a delegate queue. Set a delegate queue first.");
        }
        return false;
    }
    return true;
}

void DispatchUdpSocket::performBlock(const std::function<void()>& block) { runSync(block); }

void DispatchUdpSocket::markSocketQueueTargetQueue(const QueuePtr& queue) {
    if (queue) queue->setSpecific(this, this);
}

void DispatchUdpSocket::unmarkSocketQueueTargetQueue(const QueuePtr& queue) {
    if (queue) queue->setSpecific(this, nullptr);
}

void DispatchUdpSocket::setResolver(Resolver resolver) {
    runSync([&] { resolver_ = std::move(resolver); });
}

void DispatchUdpSocket::setSendFunction(SendFunction send) {
    runSync([&] { sendFunction_ = std::move(send); });
}

// ---- delegate and configuration ----

DispatchUdpSocketDelegate* DispatchUdpSocket::delegate() const {
    DispatchUdpSocketDelegate* result = nullptr;
    runSync([&] { result = delegate_.live(); });
    return result;
}

DispatchUdpSocket::QueuePtr DispatchUdpSocket::delegateQueue() const {
    QueuePtr result;
    runSync([&] { result = delegateQueue_; });
    return result;
}

void DispatchUdpSocket::getDelegate(DispatchUdpSocketDelegate** delegate,
                                    QueuePtr* delegateQueue) const {
    runSync([&] {
        if (delegate) *delegate = delegate_.live();
        if (delegateQueue) *delegateQueue = delegateQueue_;
    });
}

void DispatchUdpSocket::setDelegate(DispatchUdpSocketDelegate* delegate, bool synchronously) {
    auto set = [this, delegate] { delegate_ = DelegateRef(delegate); };
    synchronously ? runSync(set) : perform(set);
}

void DispatchUdpSocket::setDelegateQueue(QueuePtr delegateQueue, bool synchronously) {
    auto set = [this, delegateQueue] { delegateQueue_ = delegateQueue; };
    synchronously ? runSync(set) : perform(set);
}

void DispatchUdpSocket::setDelegate(DispatchUdpSocketDelegate* delegate, QueuePtr delegateQueue,
                                    bool synchronously) {
    auto set = [this, delegate, delegateQueue] {
        delegate_ = DelegateRef(delegate);
        delegateQueue_ = delegateQueue;
    };
    synchronously ? runSync(set) : perform(set);
}

bool DispatchUdpSocket::isIPv4Enabled() const {
    bool result = false;
    runSync([&] { result = !(config_ & configIPv4Disabled); });
    return result;
}

void DispatchUdpSocket::setIPv4Enabled(bool flag) {
    perform([this, flag] {
        config_ = flag ? (config_ & ~configIPv4Disabled) : (config_ | configIPv4Disabled);
    });
}

bool DispatchUdpSocket::isIPv6Enabled() const {
    bool result = false;
    runSync([&] { result = !(config_ & configIPv6Disabled); });
    return result;
}

void DispatchUdpSocket::setIPv6Enabled(bool flag) {
    perform([this, flag] {
        config_ = flag ? (config_ & ~configIPv6Disabled) : (config_ | configIPv6Disabled);
    });
}

bool DispatchUdpSocket::isIPv4Preferred() const {
    bool result = false;
    runSync([&] { result = config_ & configPreferIPv4; });
    return result;
}

bool DispatchUdpSocket::isIPv6Preferred() const {
    bool result = false;
    runSync([&] { result = config_ & configPreferIPv6; });
    return result;
}

bool DispatchUdpSocket::isIPVersionNeutral() const {
    bool result = false;
    runSync([&] { result = !(config_ & (configPreferIPv4 | configPreferIPv6)); });
    return result;
}

void DispatchUdpSocket::setPreferIPv4() {
    perform([this] { config_ = (config_ | configPreferIPv4) & ~configPreferIPv6; });
}

void DispatchUdpSocket::setPreferIPv6() {
    perform([this] { config_ = (config_ & ~configPreferIPv4) | configPreferIPv6; });
}

void DispatchUdpSocket::setIPVersionNeutral() {
    perform([this] { config_ &= ~(configPreferIPv4 | configPreferIPv6); });
}

uint16_t DispatchUdpSocket::maxReceiveIPv4BufferSize() const {
    uint16_t result = 0;
    runSync([&] { result = max4ReceiveSize_; });
    return result;
}

void DispatchUdpSocket::setMaxReceiveIPv4BufferSize(uint16_t max) {
    perform([this, max] { max4ReceiveSize_ = max; });
}

uint32_t DispatchUdpSocket::maxReceiveIPv6BufferSize() const {
    uint32_t result = 0;
    runSync([&] { result = max6ReceiveSize_; });
    return result;
}

void DispatchUdpSocket::setMaxReceiveIPv6BufferSize(uint32_t max) {
    perform([this, max] { max6ReceiveSize_ = max; });
}

std::shared_ptr<void> DispatchUdpSocket::userData() const {
    std::shared_ptr<void> result;
    runSync([&] { result = userData_; });
    return result;
}

void DispatchUdpSocket::setUserData(std::shared_ptr<void> data) {
    perform([this, data = std::move(data)] {
        if (userData_ != data) userData_ = data;
    });
}

bool DispatchUdpSocket::isConnected() const {
    bool result = false;
    runSync([&] { result = flags_ & flagDidConnect; });
    return result;
}

bool DispatchUdpSocket::isClosed() const {
    bool result = false;
    runSync([&] { result = !(flags_ & flagDidCreateSockets); });
    return result;
}

bool DispatchUdpSocket::isIPv4() const {
    bool result = false;
    runSync([&] {
        result =
            (flags_ & flagDidCreateSockets) ? socket4_.fd != -1 : !(config_ & configIPv4Disabled);
    });
    return result;
}

bool DispatchUdpSocket::isIPv6() const {
    bool result = false;
    runSync([&] {
        result =
            (flags_ & flagDidCreateSockets) ? socket6_.fd != -1 : !(config_ & configIPv6Disabled);
    });
    return result;
}

int DispatchUdpSocket::socketFD() const {
    if (!onSocketQueue()) return -1;
    return socket4_.fd != -1 ? socket4_.fd : socket6_.fd;
}

int DispatchUdpSocket::socket4FD() const { return onSocketQueue() ? socket4_.fd : -1; }

int DispatchUdpSocket::socket6FD() const { return onSocketQueue() ? socket6_.fd : -1; }

// ---- closing ----

void DispatchUdpSocket::close() {
    runSync([this] { closeWithError(std::nullopt); });
}

void DispatchUdpSocket::closeAfterSending() {
    perform([this] {
        flags_ |= flagCloseAfterSends;
        if (!currentSend_ && sendQueue_.empty()) closeWithError(std::nullopt);
    });
}

void DispatchUdpSocket::closeWithError(std::optional<Error> error) {
    const bool hadSockets = flags_ & flagDidCreateSockets;
    if (currentSend_) endCurrentSend();
    sendQueue_.clear();
    closeSockets();
    flags_ = 0;
    cachedConnectedAddress_.reset();
    cachedConnectedFamily_ = 0;
    if (hadSockets) {
        notifyDelegate([error](DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
            d.udpSocketDidClose(sock, error);
        });
    }
}

// ---- addresses: the helpers the TCP socket uses ----

std::string DispatchUdpSocket::hostFromSockaddr4(const sockaddr_in& address) {
    return DispatchSocket::hostFromSockaddr4(address);
}

std::string DispatchUdpSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    return DispatchSocket::hostFromSockaddr6(address);
}

uint16_t DispatchUdpSocket::portFromSockaddr4(const sockaddr_in& address) {
    return DispatchSocket::portFromSockaddr4(address);
}

uint16_t DispatchUdpSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return DispatchSocket::portFromSockaddr6(address);
}

std::optional<std::string> DispatchUdpSocket::hostFromAddress(const Bytes& address) {
    return DispatchSocket::hostFromAddress(address);
}

uint16_t DispatchUdpSocket::portFromAddress(const Bytes& address) {
    return DispatchSocket::portFromAddress(address);
}

int DispatchUdpSocket::familyFromAddress(const Bytes& address) {
    int family = 0;
    return DispatchSocket::getHost(nullptr, nullptr, &family, address) ? family : 0;
}

bool DispatchUdpSocket::isIPv4Address(const Bytes& address) {
    return DispatchSocket::isIPv4Address(address);
}

bool DispatchUdpSocket::isIPv6Address(const Bytes& address) {
    return DispatchSocket::isIPv6Address(address);
}

bool DispatchUdpSocket::getHost(std::string* host, uint16_t* port, const Bytes& address) {
    return getHost(host, port, nullptr, address);
}

bool DispatchUdpSocket::getHost(std::string* host, uint16_t* port, int* family,
                                const Bytes& address) {
    if (DispatchSocket::getHost(host, port, family, address)) return true;
    if (host) host->clear();
    if (port) *port = 0;
    if (family) *family = 0;
    return false;
}

// ---- errors ----

Error DispatchUdpSocket::badConfigError(const std::string& message) {
    return Error::make(kErrorDomain, BadConfigError, message);
}

Error DispatchUdpSocket::badParamError(const std::string& message) {
    return Error::make(kErrorDomain, BadParamError, message);
}

Error DispatchUdpSocket::sendTimeoutError() {
    return Error::make(kErrorDomain, SendTimeoutError, "Send operation timed out");
}

Error DispatchUdpSocket::socketClosedError() {
    return Error::make(kErrorDomain, ClosedError, "Socket closed");
}

Error DispatchUdpSocket::otherError(const std::string& message) {
    return Error::make(kErrorDomain, OtherError, message);
}

}  // namespace quenbril
