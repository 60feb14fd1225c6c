#include "sockets/RunLoopStreamPair.h"

#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"
#include "sockets/TLSEngine.h"

namespace quenbril {

/// Carries a lookup's result from the global queue to the loop the pair is scheduled on when
/// it arrives; while the pair is scheduled nowhere the result waits here.
struct RunLoopStreamPair::LookupMailbox : std::enable_shared_from_this<LookupMailbox> {
    std::mutex mutex;
    RunLoop* loop = nullptr;
    /// Moves on with every change of loop: an answer posted to a loop the pair has left since
    /// waits for the next one instead of running on the wrong thread.
    uint64_t generation = 0;
    std::weak_ptr<RunLoopStreamPair> pair;
    std::function<void()> parked;

    /// Call with the mutex held.
    void deliver(std::function<void()> result) {
        if (!loop) {
            parked = std::move(result);
            return;
        }
        loop->post(
            [self = shared_from_this(), result = std::move(result), posted = generation]() mutable {
                std::unique_lock lock(self->mutex);
                if (posted != self->generation) {
                    self->deliver(std::move(result));
                    return;
                }
                lock.unlock();
                result();
            });
    }
    /// Call with the mutex held.
    void moveTo(RunLoop* newLoop) {
        loop = newLoop;
        ++generation;
        if (loop && parked) deliver(std::exchange(parked, nullptr));
    }
};

namespace {

bool pollFor(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (events | POLLERR | POLLHUP));
}

RunLoopStreamPair::StreamError posixError(int code) {
    return {RunLoopStreamPair::ErrorDomain::POSIX, code, {}};
}

}  // namespace

std::shared_ptr<RunLoopStreamPair> RunLoopStreamPair::connectTo(const std::string& host,
                                                                uint16_t port) {
    return std::make_shared<RunLoopStreamPair>(Passkey{}, host, port, -1);
}

std::shared_ptr<RunLoopStreamPair> RunLoopStreamPair::adopt(int fd) {
    return std::make_shared<RunLoopStreamPair>(Passkey{}, std::string{}, 0, fd);
}

RunLoopStreamPair::RunLoopStreamPair(Passkey, std::string host, uint16_t port, int fd)
    : host_(std::move(host)), port_(port), fd_(fd), connected_(fd >= 0) {}

RunLoopStreamPair::~RunLoopStreamPair() {
    unschedule();
    tls_.reset();
    if (fd_ >= 0 && (shouldCloseNative_ || !connected_)) ::close(fd_);
}

void RunLoopStreamPair::setClient(Side side, unsigned events, Client client) {
    (side == Side::Read ? readClient_ : writeClient_) = std::move(client);
    (side == Side::Read ? readEvents_ : writeEvents_) = events;
}

const char* RunLoopStreamPair::statusWord(Status status) {
    switch (status) {
        case Status::NotOpen:
            return "not open";
        case Status::Opening:
            return "opening";
        case Status::Open:
            return "open";
        case Status::Reading:
            return "reading";
        case Status::Writing:
            return "writing";
        case Status::AtEnd:
            return "at end";
        case Status::Closed:
            return "closed";
        case Status::Error:
            return "has error";
    }
    return "not open";
}

RunLoopStreamPair::StreamError RunLoopStreamPair::error(Side side) const {
    return status(side) == Status::Error ? error_ : StreamError{};
}

// ---- scheduling ----

void RunLoopStreamPair::schedule(RunLoop& loop) {
    if (loop_ == &loop) return;
    unschedule();
    loop_ = &loop;
    if (mailbox_) {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->moveTo(&loop);
    }
    // Events posted before the pair was taken off its last loop are posted again here.
    for (Side side : {Side::Read, Side::Write}) {
        if (pendingOpenEvents_ & (side == Side::Read ? 1u : 2u)) post(side, OpenCompleted);
        if (status(side) == Status::Error) post(side, ErrorOccurred);
    }
    if (readStatus_ == Status::AtEnd) post(Side::Read, EndEncountered);
    if (readStatus_ == Status::Opening && writeStatus_ == Status::Opening) {
        if (!connected_ && !lookupStarted_) startLookup();
        if (!connected_ && (fd_ >= 0 || lookupFinished_)) tryNextAddress();
        if (connected_) didOpen();
    }
    if (handshaking_) continueHandshake();
    if (readArmed_) armRead();
    if (writeWaiting_) armWrite();
}

void RunLoopStreamPair::unschedule() {
    if (mailbox_) {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->moveTo(nullptr);
    }
    performs_.cancelAll();
    connectWatch_.cancel();
    readWatch_.cancel();
    writeWatch_.cancel();
    loop_ = nullptr;
}

// ---- opening ----

bool RunLoopStreamPair::open(Side side) {
    Status& s = side == Side::Read ? readStatus_ : writeStatus_;
    if (s != Status::NotOpen) return false;
    s = Status::Opening;
    bool both = readStatus_ == Status::Opening && writeStatus_ == Status::Opening;
    if (!both || !loop_) return true;
    if (connected_) {
        didOpen();
    } else {
        startLookup();
    }
    return true;
}

void RunLoopStreamPair::startLookup() {
    lookupStarted_ = true;
    mailbox_ = std::make_shared<LookupMailbox>();
    mailbox_->loop = loop_;
    mailbox_->pair = weak_from_this();
    // The resolver may wait on the network: it runs on the global queue, and the answer comes
    // back to the loop the pair is on by then.
    dispatch::Queue::global()->async([mailbox = mailbox_, host = host_, port = port_] {
        Error failure;
        auto addresses = DispatchSocket::lookupHost(host, port, &failure);
        StreamError error;
        if (!addresses) error = {ErrorDomain::NetDB, int32_t(failure.code), failure.description};
        std::lock_guard lock(mailbox->mutex);
        mailbox->deliver(
            [weak = mailbox->pair, list = addresses.value_or(std::vector<Bytes>{}), error] {
                if (auto self = weak.lock()) self->lookupDone(list, error);
            });
    });
}

void RunLoopStreamPair::lookupDone(std::vector<Bytes> addresses, StreamError error) {
    if (readStatus_ != Status::Opening && writeStatus_ != Status::Opening) return;
    if (error.domain != ErrorDomain::None) {
        fail(error);
        return;
    }
    addresses_ = std::move(addresses);
    nextAddress_ = 0;
    lookupFinished_ = true;
    tryNextAddress();
}

void RunLoopStreamPair::tryNextAddress() {
    if (!loop_) return;
    if (fd_ >= 0) {
        // Still connecting (after a reschedule): wait for the same attempt.
        connectWatch_ =
            loop_->watchDescriptor(fd_, RunLoop::Condition::Writable, [weak = weak_from_this()] {
                if (auto self = weak.lock()) self->connectReady();
            });
        return;
    }
    int lastError = ECONNREFUSED;
    while (nextAddress_ < addresses_.size()) {
        const Bytes& a = addresses_[nextAddress_++];
        int family = DispatchSocket::isIPv4Address(a) ? AF_INET : AF_INET6;
        int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(a.data()), a.size()) == 0 ||
            errno == EINPROGRESS) {
            fd_ = fd;
            tryNextAddress();
            return;
        }
        lastError = errno;
        ::close(fd);
    }
    fail(posixError(lastError));
}

void RunLoopStreamPair::connectReady() {
    connectWatch_.cancel();
    int soError = 0;
    socklen_t length = sizeof soError;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0) {
        ::close(fd_);
        fd_ = -1;
        if (nextAddress_ < addresses_.size()) {
            tryNextAddress();
        } else {
            fail(posixError(soError));
        }
        return;
    }
    connected_ = true;
    didOpen();
}

void RunLoopStreamPair::didOpen() {
    if (readStatus_ == Status::Opening) readStatus_ = Status::Open;
    if (writeStatus_ == Status::Opening) writeStatus_ = Status::Open;
    pendingOpenEvents_ = 3;
    post(Side::Read, OpenCompleted);
    post(Side::Write, OpenCompleted);
    readArmed_ = true;
    armRead();
    if (!tls_) post(Side::Write, CanAcceptBytes);
}

void RunLoopStreamPair::fail(StreamError error) {
    error_ = std::move(error);
    readWatch_.cancel();
    writeWatch_.cancel();
    connectWatch_.cancel();
    if (usable(Side::Read) || readStatus_ == Status::Opening) readStatus_ = Status::Error;
    if (usable(Side::Write) || writeStatus_ == Status::Opening) writeStatus_ = Status::Error;
    post(Side::Read, ErrorOccurred);
    post(Side::Write, ErrorOccurred);
}

void RunLoopStreamPair::close(Side side) {
    (side == Side::Read ? readStatus_ : writeStatus_) = Status::Closed;
    if (side == Side::Read) readWatch_.cancel();
    if (side == Side::Write) writeWatch_.cancel();
    if (readStatus_ != Status::Closed || writeStatus_ != Status::Closed) return;
    unschedule();
    if (tls_) tls_->close();
    tls_.reset();
    if (fd_ >= 0 && (shouldCloseNative_ || !connected_)) ::close(fd_);
    fd_ = -1;
    connected_ = false;
}

// ---- events ----

bool RunLoopStreamPair::usable(Side side) const {
    Status s = status(side);
    return s == Status::Open || s == Status::Reading || s == Status::Writing;
}

void RunLoopStreamPair::deliver(Side side, Event event) {
    if (event == OpenCompleted) pendingOpenEvents_ &= side == Side::Read ? ~1u : ~2u;
    const Client& client = side == Side::Read ? readClient_ : writeClient_;
    unsigned wanted = side == Side::Read ? readEvents_ : writeEvents_;
    if (client && (wanted & event)) {
        Client keep = client;  // the client may remove itself
        keep(event);
    }
}

void RunLoopStreamPair::post(Side side, Event event) {
    if (!loop_) return;
    performs_.perform(*loop_, [weak = weak_from_this(), side, event] {
        if (auto self = weak.lock()) self->deliver(side, event);
    });
}

void RunLoopStreamPair::armRead() {
    if (!loop_ || readWatch_.isActive() || fd_ < 0 || !connected_) return;
    readWatch_ =
        loop_->watchDescriptor(fd_, RunLoop::Condition::Readable, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->readReady();
        });
}

void RunLoopStreamPair::armWrite() {
    if (!loop_ || writeWatch_.isActive() || fd_ < 0 || !connected_) return;
    writeWatch_ =
        loop_->watchDescriptor(fd_, RunLoop::Condition::Writable, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->writeReady();
        });
}

void RunLoopStreamPair::readReady() {
    auto self = shared_from_this();
    readWatch_.cancel();
    readArmed_ = false;
    if (handshaking_) {
        continueHandshake();
        return;
    }
    if (!usable(Side::Read)) return;
    uint8_t probe;
    ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0 || (tls_ && tls_->bufferedReadBytes() > 0)) {
        deliver(Side::Read, HasBytesAvailable);
    } else if (n == 0) {
        readStatus_ = Status::AtEnd;
        deliver(Side::Read, EndEncountered);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        readArmed_ = true;
        armRead();
    } else {
        fail(posixError(errno));
    }
}

void RunLoopStreamPair::writeReady() {
    auto self = shared_from_this();
    writeWatch_.cancel();
    writeWaiting_ = false;
    if (handshaking_) {
        continueHandshake();
        return;
    }
    if (usable(Side::Write)) deliver(Side::Write, CanAcceptBytes);
}

// ---- reading and writing ----

bool RunLoopStreamPair::hasBytesAvailable() {
    if (!usable(Side::Read) || handshaking_) return false;
    if (tls_ && tls_->bufferedReadBytes() > 0) return true;
    if (pollFor(fd_, POLLIN)) return true;
    // A reader waits: has-bytes is watched for until bytes come.
    readArmed_ = true;
    armRead();
    return false;
}

bool RunLoopStreamPair::canAcceptBytes() {
    if (!usable(Side::Write) || handshaking_) return false;
    if (pollFor(fd_, POLLOUT)) return true;
    writeWaiting_ = true;
    armWrite();
    return false;
}

size_t RunLoopStreamPair::bytesAvailableHint() const {
    int count = 0;
    if (fd_ < 0 || ioctl(fd_, FIONREAD, &count) != 0 || count < 0) count = 0;
    return static_cast<size_t>(count) + (tls_ ? tls_->bufferedReadBytes() : 0);
}

ssize_t RunLoopStreamPair::read(uint8_t* buffer, size_t length) {
    if (!usable(Side::Read) || handshaking_) return readStatus_ == Status::AtEnd ? 0 : -1;
    readArmed_ = true;
    armRead();
    if (tls_) {
        size_t processed = 0;
        int status = tls_->read(buffer, length, &processed);
        if (status == TLSEngine::Success || status == TLSEngine::WouldBlock) {
            return static_cast<ssize_t>(processed);
        }
        if (status == TLSEngine::ClosedGracefully) {
            readStatus_ = Status::AtEnd;
            post(Side::Read, EndEncountered);
            return static_cast<ssize_t>(processed);
        }
        fail({ErrorDomain::SSL, status, {}});
        return -1;
    }
    ssize_t n = ::recv(fd_, buffer, length, MSG_DONTWAIT);
    if (n > 0) return n;
    if (n == 0) {
        readStatus_ = Status::AtEnd;
        readWatch_.cancel();
        post(Side::Read, EndEncountered);
        return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    fail(posixError(errno));
    return -1;
}

ssize_t RunLoopStreamPair::write(const uint8_t* buffer, size_t length) {
    if (!usable(Side::Write) || handshaking_) return -1;
    if (tls_) {
        size_t processed = 0;
        int status = tls_->write(buffer, length, &processed);
        if (status == TLSEngine::Success) return static_cast<ssize_t>(processed);
        if (status == TLSEngine::WouldBlock) {
            writeWaiting_ = true;
            armWrite();
            return 0;
        }
        fail({ErrorDomain::SSL, status, {}});
        return -1;
    }
    ssize_t n = ::send(fd_, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0 && static_cast<size_t>(n) == length) return n;
    if (n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        writeWaiting_ = true;
        armWrite();
        return n > 0 ? n : 0;
    }
    fail(posixError(errno));
    return -1;
}

// ---- TLS ----

bool RunLoopStreamPair::setSSLSettings(const Dictionary& settings) {
    if (tls_ || fd_ < 0) return false;
    int fd = fd_;
    auto transportStatus = [](ssize_t n, size_t* processed) {
        if (n > 0) {
            *processed = static_cast<size_t>(n);
            return 0;
        }
        *processed = 0;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return int(TLSEngine::WouldBlock);
        }
        return int(TLSEngine::ClosedAbort);
    };
    auto readFn = [this, fd, transportStatus](uint8_t* buffer, size_t length, size_t* processed) {
        int status = transportStatus(::recv(fd, buffer, length, MSG_DONTWAIT), processed);
        if (status == TLSEngine::WouldBlock) {
            readArmed_ = true;
            armRead();
        }
        return status;
    };
    auto writeFn = [this, fd, transportStatus](const uint8_t* buffer, size_t length,
                                               size_t* processed) {
        ssize_t n = ::send(fd, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        int status = transportStatus(n, processed);
        if (status == 0 && *processed < length) status = TLSEngine::WouldBlock;
        if (status == TLSEngine::WouldBlock) {
            writeWaiting_ = true;
            armWrite();
        }
        return status;
    };
    std::string failure;
    tls_ = TLSEngine::make(settings, readFn, writeFn, &failure);
    if (!tls_) return false;
    handshaking_ = true;
    if (loop_) {
        performs_.perform(*loop_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->continueHandshake();
        });
    }
    return true;
}

void RunLoopStreamPair::continueHandshake() {
    if (!handshaking_ || !tls_) return;
    auto self = shared_from_this();
    int status = tls_->handshake();
    if (status == TLSEngine::WouldBlock) return;  // the transport armed what it waits for
    handshaking_ = false;
    if (status != TLSEngine::Success) {
        fail({ErrorDomain::SSL, status, {}});
        return;
    }
    // Only now may the clients read and write: the first events after the switch end it.
    readArmed_ = true;
    armRead();
    deliver(Side::Read, HasBytesAvailable);
    deliver(Side::Write, CanAcceptBytes);
}

}  // namespace quenbril
