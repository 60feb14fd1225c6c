// DispatchSocket: the model, its queues, the delegate, state queries, closing and the errors.

#include "sockets/DispatchSocket.h"

#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "sockets/DispatchReadPacket.h"
#include "sockets/DispatchWritePacket.h"
#include "sockets/TLSEngine.h"

namespace quenbril {

// ---- creation ----

std::shared_ptr<DispatchSocket> DispatchSocket::make() { return make(nullptr, nullptr, nullptr); }

std::shared_ptr<DispatchSocket> DispatchSocket::make(QueuePtr socketQueue) {
    return make(nullptr, nullptr, std::move(socketQueue));
}

std::shared_ptr<DispatchSocket> DispatchSocket::make(DispatchSocketDelegate* delegate,
                                                     QueuePtr delegateQueue, QueuePtr socketQueue) {
    return std::make_shared<DispatchSocket>(Passkey{}, delegate, std::move(delegateQueue),
                                            std::move(socketQueue));
}

DispatchSocket::DispatchSocket(Passkey, DispatchSocketDelegate* delegate, QueuePtr delegateQueue,
                               QueuePtr socketQueue)
    : delegate_(delegate),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue_(std::move(socketQueue)) {
    if (!socketQueue_) socketQueue_ = dispatch::Queue::makeSerial("DispatchSocket");
    // The key is this socket's own address, so each socket has a key of its own.
    socketQueue_->setSpecific(this, this);
}

DispatchSocket::~DispatchSocket() {
    // Handlers hold the socket weakly, so this may run on the socket queue itself (a handler
    // held the last reference); close directly there, else wait for the queue.
    flags_ |= flagDeallocating;
    runSync([this] { closeWithError(std::nullopt); });
    socketQueue_->setSpecific(this, nullptr);
}

DispatchSocket::DelegateRef::DelegateRef(DispatchSocketDelegate* delegate) : ptr(delegate) {
    if (delegate) token = delegate->lifeToken_;
}

// ---- queues ----

bool DispatchSocket::onSocketQueue() const {
    return dispatch::Queue::currentSpecific(this) == this;
}

// The threads. The socket's state belongs to the socket queue: whatever touches it runs in that
// queue's context, one block at a time, in the order submitted. That context is usually the
// queue's own thread, but a block may also run in place on the thread that asked for it (the
// delegate's thread queueing a read, the epoll thread reporting bytes) when the queue is idle and
// nothing waits in it (Queue::tryRunInPlace): it then overtakes nothing, and saves two thread
// hops. Delegate calls are always posted to the delegate queue, in the order the socket queue
// makes them, never made inside the call that caused them. A socket whose queue is the main
// queue has no thread of its own: its descriptor's events run on the main loop as they come.

namespace {
// Callers run socket work in place only from the main queue (the delegate queue of every user
// here): a worker thread may hold locks of its own, and the work posts to the main loop.
bool mayRunInPlace() { return dispatch::Queue::main()->isCurrent(); }
}  // namespace

void DispatchSocket::runSync(const std::function<void()>& fn) const {
    if (onSocketQueue()) {
        fn();
    } else if (!mayRunInPlace() || !socketQueue_->tryRunInPlace(fn)) {
        socketQueue_->sync(fn);
    }
}

void DispatchSocket::runAsync(std::function<void()> fn) {
    std::weak_ptr<DispatchSocket> weak = weak_from_this();
    queuedBlocks_.fetch_add(1, std::memory_order_relaxed);
    socketQueue_->async([weak, fn = std::move(fn)] {
        if (auto self = weak.lock()) {
            self->queuedBlocks_.fetch_sub(1, std::memory_order_relaxed);
            fn();
        }
    });
}

bool DispatchSocket::runsRequestsAtOnce() const {
    // A socket on the main queue is asked from main-thread code outside its own work: its
    // delegate calls are blocks of their own, never made inside the socket's. So the request
    // overtakes nothing, as on an idle serial queue, unless a block of the socket waits.
    return socketQueue_->kind() == dispatch::Queue::Kind::Main && onSocketQueue() &&
           queuedBlocks_.load(std::memory_order_relaxed) == 0;
}

void DispatchSocket::runSoonQueued(std::function<void()> fn) {
    // On the socket queue already: queued, so that a block never runs inside another.
    if (!onSocketQueue() && mayRunInPlace() && socketQueue_->tryRunInPlace(fn, true)) return;
    runAsync(std::move(fn));
}

std::shared_ptr<dispatch::TimerSource> DispatchSocket::startTimer(
    double seconds, std::function<void(DispatchSocket&)> fire) {
    // Time-outs are real time whatever the queue: on the main queue too, where a test's clock
    // is virtual.
    auto timer = dispatch::TimerSource::make(socketQueue_, dispatch::TimerSource::Clock::Real);
    std::weak_ptr<DispatchSocket> weak = weak_from_this();
    timer->setEventHandler([weak, fire = std::move(fire)] {
        if (auto self = weak.lock()) fire(*self);
    });
    timer->setTimer(seconds);
    timer->resume();
    return timer;
}

void DispatchSocket::postToDelegateQueue(std::function<void()> call) {
    if (delegateBatchDepth_ > 0) {
        batchedDelegateCalls_.emplace_back(delegateQueue_, std::move(call));
    } else {
        delegateQueue_->async(std::move(call));
    }
}

DispatchSocket::DelegateCallBatch::DelegateCallBatch(DispatchSocket& socket) : socket_(socket) {
    ++socket_.delegateBatchDepth_;
}

DispatchSocket::DelegateCallBatch::~DelegateCallBatch() {
    if (--socket_.delegateBatchDepth_ == 0) socket_.postBatchedDelegateCalls();
}

void DispatchSocket::postBatchedDelegateCalls() {
    if (batchedDelegateCalls_.empty()) return;
    // The two vectors trade places, so neither is allocated again per batch.
    auto calls = std::move(batchedDelegateCalls_);
    batchedDelegateCalls_ = std::move(spareDelegateCalls_);
    batchedDelegateCalls_.clear();
    // In the order made; consecutive calls for one queue as one block.
    for (size_t first = 0; first < calls.size();) {
        size_t end = first + 1;
        while (end < calls.size() && calls[end].first == calls[first].first) ++end;
        if (end == first + 1) {
            calls[first].first->async(std::move(calls[first].second));
        } else {
            std::vector<std::function<void()>> run;
            for (size_t i = first; i < end; ++i) run.push_back(std::move(calls[i].second));
            calls[first].first->async([run = std::move(run)] {
                for (const auto& call : run) call();
            });
        }
        first = end;
    }
    calls.clear();
    spareDelegateCalls_ = std::move(calls);
}

// ---- delegate and configuration ----

DispatchSocketDelegate* DispatchSocket::delegate() const {
    DispatchSocketDelegate* result = nullptr;
    runSync([&] { result = delegate_.live(); });
    return result;
}

DispatchSocket::QueuePtr DispatchSocket::delegateQueue() const {
    QueuePtr result;
    runSync([&] { result = delegateQueue_; });
    return result;
}

void DispatchSocket::getDelegate(DispatchSocketDelegate** delegate, QueuePtr* queue) const {
    runSync([&] {
        if (delegate) *delegate = delegate_.live();
        if (queue) *queue = delegateQueue_;
    });
}

void DispatchSocket::setDelegate(DispatchSocketDelegate* delegate) {
    DelegateRef ref(delegate);
    if (onSocketQueue()) {
        delegate_ = ref;
    } else {
        runAsync([this, ref] { delegate_ = ref; });
    }
}

void DispatchSocket::setDelegateQueue(QueuePtr queue) {
    if (onSocketQueue()) {
        delegateQueue_ = std::move(queue);
    } else {
        runAsync([this, queue] { delegateQueue_ = queue; });
    }
}

void DispatchSocket::setDelegate(DispatchSocketDelegate* delegate, QueuePtr queue) {
    setDelegate(delegate);
    setDelegateQueue(std::move(queue));
}

void DispatchSocket::synchronouslySetDelegate(DispatchSocketDelegate* delegate) {
    DelegateRef ref(delegate);
    runSync([&] { delegate_ = ref; });
}

void DispatchSocket::synchronouslySetDelegateQueue(QueuePtr queue) {
    runSync([&] { delegateQueue_ = queue; });
}

void DispatchSocket::synchronouslySetDelegate(DispatchSocketDelegate* delegate, QueuePtr queue) {
    DelegateRef ref(delegate);
    runSync([&] {
        delegate_ = ref;
        delegateQueue_ = queue;
    });
}

bool DispatchSocket::isIPv4Enabled() const {
    bool result = false;
    runSync([&] { result = !(config_ & configNoIPv4); });
    return result;
}

bool DispatchSocket::isIPv6Enabled() const {
    bool result = false;
    runSync([&] { result = !(config_ & configNoIPv6); });
    return result;
}

bool DispatchSocket::isIPv4PreferredOverIPv6() const {
    bool result = false;
    runSync([&] { result = !(config_ & configPreferIPv6); });
    return result;
}

bool DispatchSocket::autoDisconnectOnClosedReadStream() const {
    bool result = false;
    runSync([&] { result = !(config_ & configKeepOpenOnReadEOF); });
    return result;
}

namespace {
void setBit(uint16_t& bits, uint16_t bit, bool on) {
    if (on) {
        bits |= bit;
    } else {
        bits &= static_cast<uint16_t>(~bit);
    }
}
}  // namespace

void DispatchSocket::setIPv4Enabled(bool flag) {
    auto apply = [this, flag] { setBit(config_, configNoIPv4, !flag); };
    onSocketQueue() ? apply() : runAsync(apply);
}

void DispatchSocket::setIPv6Enabled(bool flag) {
    auto apply = [this, flag] { setBit(config_, configNoIPv6, !flag); };
    onSocketQueue() ? apply() : runAsync(apply);
}

void DispatchSocket::setIPv4PreferredOverIPv6(bool flag) {
    auto apply = [this, flag] { setBit(config_, configPreferIPv6, !flag); };
    onSocketQueue() ? apply() : runAsync(apply);
}

void DispatchSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
    auto apply = [this, flag] { setBit(config_, configKeepOpenOnReadEOF, !flag); };
    onSocketQueue() ? apply() : runAsync(apply);
}

std::shared_ptr<void> DispatchSocket::userData() const {
    std::shared_ptr<void> result;
    runSync([&] { result = userData_; });
    return result;
}

void DispatchSocket::setUserData(std::shared_ptr<void> data) {
    auto apply = [this, data] {
        if (userData_ != data) userData_ = data;
    };
    onSocketQueue() ? apply() : runAsync(apply);
}

// ---- state ----

bool DispatchSocket::isDisconnected() const {
    bool result = false;
    runSync([&] { result = !(flags_ & flagStarted); });
    return result;
}

bool DispatchSocket::isConnected() const {
    bool result = false;
    runSync([&] { result = flags_ & flagConnected; });
    return result;
}

bool DispatchSocket::isIPv4() const {
    bool result = false;
    runSync([&] { result = socket4FD_ != -1; });
    return result;
}

bool DispatchSocket::isIPv6() const {
    bool result = false;
    runSync([&] { result = socket6FD_ != -1; });
    return result;
}

bool DispatchSocket::isSecure() const {
    bool result = false;
    runSync([&] { result = flags_ & flagSecure; });
    return result;
}

void DispatchSocket::performBlock(const std::function<void()>& block) { runSync(block); }

void DispatchSocket::markSocketQueueTargetQueue(const QueuePtr& queue) {
    if (queue) queue->setSpecific(this, this);
}

void DispatchSocket::unmarkSocketQueueTargetQueue(const QueuePtr& queue) {
    if (queue) queue->setSpecific(this, nullptr);
}

int DispatchSocket::socketFD() const {
    if (!onSocketQueue()) return -1;
    return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int DispatchSocket::socket4FD() const { return onSocketQueue() ? socket4FD_ : -1; }

int DispatchSocket::socket6FD() const { return onSocketQueue() ? socket6FD_ : -1; }

TLSEngine* DispatchSocket::sslContext() const {
    return onSocketQueue() ? sslContext_.get() : nullptr;
}

// ---- closing ----

void DispatchSocket::disconnect() {
    runSync([this] {
        if (flags_ & flagStarted) closeWithError(std::nullopt);
    });
}

void DispatchSocket::disconnectAfterReading() {
    runAsync([this] {
        if (flags_ & flagStarted) {
            flags_ |= (flagNoNewIO | flagCloseAfterReads);
            maybeClose();
        }
    });
}

void DispatchSocket::disconnectAfterWriting() {
    runAsync([this] {
        if (flags_ & flagStarted) {
            flags_ |= (flagNoNewIO | flagCloseAfterWrites);
            maybeClose();
        }
    });
}

void DispatchSocket::disconnectAfterReadingAndWriting() {
    runAsync([this] {
        if (flags_ & flagStarted) {
            flags_ |= (flagNoNewIO | flagCloseAfterReads | flagCloseAfterWrites);
            maybeClose();
        }
    });
}

void DispatchSocket::maybeClose() {
    bool shouldClose = false;
    if (flags_ & flagCloseAfterReads) {
        if (readQueue_.empty() && !currentRead_) {
            if (flags_ & flagCloseAfterWrites) {
                shouldClose = writeQueue_.empty() && !currentWrite_;
            } else {
                shouldClose = true;
            }
        }
    } else if (flags_ & flagCloseAfterWrites) {
        shouldClose = writeQueue_.empty() && !currentWrite_;
    }
    if (shouldClose) closeWithError(std::nullopt);
}

void DispatchSocket::closeWithError(std::optional<Error> error) {
    endConnectTimeout();
    sslClose();
    if (currentRead_) endCurrentPacket(IOSide::Read);
    if (currentWrite_) endCurrentPacket(IOSide::Write);
    cancelIOTimers();

    readQueue_.clear();
    writeQueue_.clear();
    preBuffer_.reset();

    if (acceptPauseTimer_) {
        acceptPauseTimer_->cancel();
        acceptPauseTimer_.reset();
    }

    if (!accept4Source_ && !accept6Source_ && !acceptUNSource_ && !readSource_ && !writeSource_) {
        if (socket4FD_ != -1) ::close(socket4FD_);
        if (socket6FD_ != -1) ::close(socket6FD_);
        if (socketUN_ != -1) {
            ::close(socketUN_);
            if (!socketUrl_.empty()) {
                std::error_code ignored;
                std::filesystem::remove(socketUrl_, ignored);
            }
            socketUrl_.clear();
        }
    } else {
        for (auto* source : {&accept4Source_, &accept6Source_, &acceptUNSource_}) {
            if (*source) {
                (*source)->cancel();
                source->reset();
            }
        }
        // The sources close the descriptors once their cancels are over (also of a suspended
        // source).
        if (readSource_) {
            readSource_->cancel();
            readSource_.reset();
        }
        if (writeSource_) {
            writeSource_->cancel();
            writeSource_.reset();
        }
    }
    socket4FD_ = socket6FD_ = socketUN_ = -1;

    bool wasStarted = flags_ & flagStarted;
    socketFDBytesAvailable_ = 0;
    flags_ &= flagDeallocating;  // only the destruction mark outlives a close

    if (wasStarted) {
        notifyDelegate([error](DispatchSocketDelegate& d, DispatchSocket* sock) {
            d.socketDidDisconnect(sock, error);
        });
    }
}

// ---- errors ----

namespace {
Error socketError(int64_t code, std::string description) {
    return Error::make(DispatchSocket::kErrorDomain, code, std::move(description));
}
}  // namespace

Error DispatchSocket::badConfigError(const std::string& message) {
    return socketError(BadConfigError, message);
}
Error DispatchSocket::badParamError(const std::string& message) {
    return socketError(BadParamError, message);
}
Error DispatchSocket::connectTimeoutError() {
    return socketError(ConnectTimeoutError, "Attempt to connect to host timed out");
}
Error DispatchSocket::readTimeoutError() {
    return socketError(ReadTimeoutError, "Read operation timed out");
}
Error DispatchSocket::writeTimeoutError() {
    return socketError(WriteTimeoutError, "Write operation timed out");
}
Error DispatchSocket::readMaxedOutError() {
    return socketError(ReadMaxedOutError, "Read operation reached set maximum length");
}
Error DispatchSocket::connectionClosedError() {
    return socketError(ClosedError, "Socket closed by remote peer");
}
Error DispatchSocket::otherError(const std::string& message) {
    return socketError(OtherError, message);
}
Error DispatchSocket::errnoErrorWithReason(const std::string& reason) {
    return Error::posix(errno, reason);
}
Error DispatchSocket::errnoError() { return Error::posix(errno); }

Error DispatchSocket::sslError(int status) {
    Error e = Error::make(kSSLErrorDomain, status, "");
    e.userInfo.set("NSLocalizedRecoverySuggestion",
                   Value("Error code definition can be found in Apple's SecureTransport.h"));
    return e;
}

int DispatchSocket::portableResolverCode(int systemCode) {
    switch (systemCode) {
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return 1;
#endif
        case EAI_AGAIN:
            return 2;
        case EAI_BADFLAGS:
            return 3;
        case EAI_FAIL:
            return 4;
        case EAI_FAMILY:
            return 5;
        case EAI_MEMORY:
            return 6;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return 7;
#endif
        case EAI_NONAME:
            return 8;
        case EAI_SERVICE:
            return 9;
        case EAI_SOCKTYPE:
            return 10;
        case EAI_SYSTEM:
            return 11;
        case EAI_OVERFLOW:
            return 14;
        default:
            return systemCode;
    }
}

Error DispatchSocket::gaiError(int resolverCode) {
    return Error::make(kNetDBErrorDomain, portableResolverCode(resolverCode),
                       gai_strerror(resolverCode));
}

}  // namespace quenbril
