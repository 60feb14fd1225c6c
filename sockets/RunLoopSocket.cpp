// The connection life of RunLoopSocket: listening, connecting, the stream events, closing and
// the run-loop changes. Reading and writing are in RunLoopSocketIO.cpp, addresses and the
// description in RunLoopSocketAddress.cpp.

#include "sockets/RunLoopSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "sockets/DispatchSocket.h"
#include "sockets/RunLoopHostAddresses.h"
#include "sockets/RunLoopModes.h"
#include "sockets/RunLoopSocketException.h"
#include "sockets/RunLoopSocketMove.h"

namespace quenbril {

namespace {

void setError(Error* out, Error value) {
    if (out) *out = std::move(value);
}

int familyOf(const Bytes& address) {
    if (DispatchSocket::isIPv4Address(address)) return AF_INET;
    if (DispatchSocket::isIPv6Address(address) && address.size() >= sizeof(sockaddr_in6)) {
        return AF_INET6;
    }
    return AF_UNSPEC;
}

}  // namespace

std::shared_ptr<RunLoopSocket> RunLoopSocket::make(RunLoopSocketDelegate* delegate, long userData,
                                                   RunLoop* loop) {
    return std::make_shared<RunLoopSocket>(Passkey{}, delegate, userData,
                                           loop ? *loop : RunLoop::main());
}

RunLoopSocket::RunLoopSocket(Passkey, RunLoopSocketDelegate* delegate, long userData, RunLoop& loop)
    : runLoop_(&loop), modes_(RunLoopModes::defaults()), delegate_(delegate), userData_(userData) {}

RunLoopSocket::~RunLoopSocket() {
    delegate_ = nullptr;
    close();
    performs_.cancelAll();
    disconnectPerform_.cancelAll();
}

// The common terminators are the dispatch socket's.
const Bytes& RunLoopSocket::CRLFData() { return DispatchSocket::CRLFData(); }
const Bytes& RunLoopSocket::CRData() { return DispatchSocket::CRData(); }
const Bytes& RunLoopSocket::LFData() { return DispatchSocket::LFData(); }
const Bytes& RunLoopSocket::ZeroData() { return DispatchSocket::ZeroData(); }

// ---- errors ----

Error RunLoopSocket::socketError(ErrorCode code) {
    switch (code) {
        case CanceledError:
            return Error::make(kErrorDomain, code, "Connection canceled");
        case ConnectTimeoutError:
            return Error::make(kErrorDomain, code, "Attempt to connect to host timed out");
        case ReadMaxedOutError:
            return Error::make(kErrorDomain, code, "Read operation reached set maximum length");
        case ReadTimeoutError:
            return Error::make(kErrorDomain, code, "Read operation timed out");
        case WriteTimeoutError:
            return Error::make(kErrorDomain, code, "Write operation timed out");
        case CFSocketError:
            break;
    }
    return Error::make(kErrorDomain, CFSocketError, "General CFSocket error");
}

void RunLoopSocket::raise(const std::string& reason) {
    throw RunLoopSocketException(kExceptionName, reason);
}

std::optional<Error> RunLoopSocket::errorFromStreamError(const RunLoopStreamPair::StreamError& e) {
    using D = RunLoopStreamPair::ErrorDomain;
    if (e.domain == D::None && e.code == 0) return std::nullopt;
    switch (e.domain) {
        case D::POSIX:
            return Error::posix(e.code);
        case D::MacOSStatus:
            return Error::make("NSOSStatusErrorDomain", e.code, "");
        case D::Mach:
            return Error::make("NSMachErrorDomain", e.code, "");
        case D::NetDB:
            return Error::make(DispatchSocket::kNetDBErrorDomain, e.code, e.text);
        case D::NetServices:
            return Error::make("kCFStreamErrorDomainNetServices", e.code, "");
        case D::SOCKS:
            return Error::make("kCFStreamErrorDomainSOCKS", e.code, "");
        case D::SystemConfiguration:
            return Error::make("kCFStreamErrorDomainSystemConfiguration", e.code, "");
        case D::SSL:
            return Error::make(DispatchSocket::kSSLErrorDomain, e.code, "");
        case D::None:
        case D::Custom:
            break;
    }
    return Error::make("CFStreamError (unlisted domain)", e.code, "");
}

std::optional<Error> RunLoopSocket::streamError() const {
    if (!streams_) return std::nullopt;
    auto e = errorFromStreamError(streams_->error(RunLoopStreamPair::Side::Read));
    if (e) return e;
    return errorFromStreamError(streams_->error(RunLoopStreamPair::Side::Write));
}

bool RunLoopSocket::canSafelySetDelegate() const {
    return readQueue_.empty() && writeQueue_.empty() && !currentRead_ && !currentWrite_;
}

void RunLoopSocket::checkForThreadSafety() const {
    if (runLoop_ && !runLoop_->isCurrentThread()) {
        raise("Attempting to access RunLoopSocket instance from incorrect thread.");
    }
}

// ---- run loop ----

bool RunLoopSocket::attached() const { return runLoop_ && RunLoopModes::runs(modes_); }

void RunLoopSocket::perform(void (RunLoopSocket::*task)()) {
    if (!attached()) return;
    performs_.perform(*runLoop_, [weak = weak_from_this(), task] {
        if (auto self = weak.lock()) ((*self).*task)();
    });
}

void RunLoopSocket::attach() {
    if (!attached()) return;
    watchListening();
    watchConnecting();
    if (streams_) streams_->schedule(*runLoop_);
    connectTimer_.attach(*runLoop_);
    readTimer_.attach(*runLoop_);
    writeTimer_.attach(*runLoop_);
}

void RunLoopSocket::detach() {
    performs_.cancelAll();
    disconnectPerform_.cancelAll();
    flags_ &= ~(flagDequeueReadScheduled | flagDequeueWriteScheduled);
    accept4_.cancel();
    accept6_.cancel();
    connectWatch_.cancel();
    if (streams_) streams_->unschedule();
    connectTimer_.detach();
    readTimer_.detach();
    writeTimer_.detach();
}

void RunLoopSocket::performChecks() {
    perform(&RunLoopSocket::maybeDequeueRead);
    perform(&RunLoopSocket::maybeDequeueWrite);
    perform(&RunLoopSocket::maybeScheduleDisconnect);
}

bool RunLoopSocket::moveToRunLoop(RunLoop* loop) {
    return moveSocketToRunLoop(*this, &RunLoopSocket::runLoop_, loop, &RunLoopSocket::detach,
                               &RunLoopSocket::resumeOnRunLoop);
}

void RunLoopSocket::resumeOnRunLoop() {
    attach();
    maybeDequeueRead();
    maybeDequeueWrite();
    maybeScheduleDisconnect();
}

bool RunLoopSocket::setRunLoopModes(const std::vector<std::string>& modes) {
    if (modes.empty()) return false;
    if (modes == modes_) return true;
    detach();
    modes_ = modes;
    attach();
    performChecks();
    return true;
}

bool RunLoopSocket::addRunLoopMode(const std::string& mode) {
    if (mode.empty()) return false;
    if (std::find(modes_.begin(), modes_.end(), mode) != modes_.end()) return true;
    detach();
    modes_.push_back(mode);
    attach();
    performChecks();
    return true;
}

bool RunLoopSocket::removeRunLoopMode(const std::string& mode) {
    if (mode.empty()) return false;
    auto it = std::find(modes_.begin(), modes_.end(), mode);
    if (it == modes_.end()) return true;
    if (modes_.size() == 1) return false;
    detach();
    modes_.erase(it);
    attach();
    performChecks();
    return true;
}

// ---- listening ----

void RunLoopSocket::checkCanStart(const char* verb) const {
    if (!delegate_) {
        raise(std::string("Attempting to ") + verb + " without a delegate. Set a delegate first.");
    }
    if (!isDisconnected()) {
        raise(std::string("Attempting to ") + verb +
              " while connected or accepting connections. Disconnect first.");
    }
}

bool RunLoopSocket::acceptOnPort(uint16_t port, Error* error) {
    return acceptOnInterface({}, port, error);
}

int RunLoopSocket::makeListeningSocket(const Bytes& address, Error* error) {
    int family = familyOf(address);
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setError(error, socketError(CFSocketError));
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Each family listens on a socket of its own, so both can take the same port.
    if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()), address.size()) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        setError(error, socketError(CFSocketError));
        return -1;
    }
    return fd;
}

bool RunLoopSocket::acceptOnInterface(const std::string& interface, uint16_t port, Error* error) {
    checkCanStart("accept");
    emptyQueues();
    RunLoopHostAddresses addresses;
    if (int code = addresses.convert(interface, port, true, SOCK_STREAM); code != 0) {
        setError(error, DispatchSocket::gaiError(code));
        return false;
    }
    if (!addresses.address4 && !addresses.address6) {
        setError(error, DispatchSocket::gaiError(EAI_FAIL));
        return false;
    }
    if (addresses.address4) {
        listen4_ = makeListeningSocket(*addresses.address4, error);
        if (listen4_ < 0) return false;
    }
    if (addresses.address6) {
        Bytes a6 = *addresses.address6;
        if (port == 0 && listen4_ >= 0) {
            // Both families listen on the port the system chose for IPv4.
            auto a4 = addressOf(AF_INET, false);
            auto* six = reinterpret_cast<sockaddr_in6*>(a6.data());
            six->sin6_port = htons(a4 ? DispatchSocket::portFromAddress(*a4) : 0);
        }
        listen6_ = makeListeningSocket(a6, error);
        if (listen6_ < 0) {
            close();
            return false;
        }
    }
    flags_ |= flagDidStartDelegate;
    watchListening();
    return true;
}

void RunLoopSocket::watchListening() {
    if (!attached()) return;
    for (auto [fd, watch] : {std::pair{listen4_, &accept4_}, std::pair{listen6_, &accept6_}}) {
        if (fd < 0 || watch->isActive()) continue;
        *watch = runLoop_->watchDescriptor(fd, RunLoop::Condition::Readable,
                                           [weak = weak_from_this(), fd = fd] {
                                               if (auto self = weak.lock()) self->acceptReady(fd);
                                           });
    }
}

void RunLoopSocket::acceptReady(int listenFD) {
    auto self = shared_from_this();
    // A few per readiness, so a burst of connections cannot hold the loop.
    for (int i = 0; i < 16 && (listenFD == listen4_ || listenFD == listen6_); ++i) {
        int fd = ::accept4(listenFD, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                log(LogLevel::Warning, "RunLoopSocket %p cannot accept (errno %d)",
                    static_cast<void*>(this), errno);
            }
            return;
        }
        adoptAccepted(fd, listenFD == listen4_);
    }
}

void RunLoopSocket::adoptAccepted(int fd, bool ipv4) {
    auto socket = make(delegate_, 0, runLoop_);
    socket->modes_ = modes_;
    socket->streams_ = RunLoopStreamPair::adopt(fd);
    socket->streams_->setShouldCloseNativeSocket(true);
    (ipv4 ? socket->nativeSocket4_ : socket->nativeSocket6_) = fd;
    if (delegate_) delegate_->onSocketDidAcceptNewSocket(this, socket);
    socket->flags_ |= flagDidStartDelegate;
    RunLoop* loop =
        delegate_ ? delegate_->onSocketWantsRunLoopForNewSocket(this, socket.get()) : nullptr;
    auto start = [socket] {
        Error error;
        if (!socket->attachStreams(&error) || !socket->configureStreams(&error) ||
            !socket->openStreams(&error)) {
            log(LogLevel::Warning,
                "RunLoopSocket %p couldn't create streams from accepted "
                "socket: %s",
                static_cast<void*>(socket.get()), error.toString().c_str());
            socket->closeWithError(error);
        }
    };
    if (loop && loop != runLoop_) {
        socket->runLoop_ = loop;
        loop->post(start);
    } else {
        start();
    }
}

// ---- connecting ----

bool RunLoopSocket::connectToHost(const std::string& host, uint16_t port, Error* error) {
    return connectToHost(host, port, -1, error);
}

bool RunLoopSocket::connectToHost(const std::string& host, uint16_t port, double timeout,
                                  Error* error) {
    checkCanStart("connect");
    emptyQueues();
    streams_ = RunLoopStreamPair::connectTo(host, port);
    streams_->setShouldCloseNativeSocket(true);
    if (!attachStreams(error) || !configureStreams(error) || !openStreams(error)) {
        close();
        return false;
    }
    startConnectTimeout(timeout);
    flags_ |= flagDidStartDelegate;
    return true;
}

bool RunLoopSocket::connectToAddress(const Bytes& address, Error* error) {
    return connectToAddress(address, Bytes{}, -1, error);
}

bool RunLoopSocket::connectToAddress(const Bytes& address, double timeout, Error* error) {
    return connectToAddress(address, Bytes{}, timeout, error);
}

bool RunLoopSocket::connectToAddress(const Bytes& address, const Bytes& interfaceAddress,
                                     double timeout, Error* error) {
    checkCanStart("connect");
    emptyQueues();
    int family = familyOf(address);
    if (family == AF_UNSPEC) {
        setError(error,
                 Error::make(kErrorDomain, CFSocketError, "Remote address is not IPv4 or IPv6"));
        return false;
    }
    connecting_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (connecting_ < 0) {
        setError(error, socketError(CFSocketError));
        return false;
    }
    if (!interfaceAddress.empty()) {
        if (familyOf(interfaceAddress) == AF_UNSPEC) {
            setError(error, Error::make(kErrorDomain, CFSocketError,
                                        "Interface address is not IPv4 or IPv6"));
            close();
            return false;
        }
        if (::bind(connecting_, reinterpret_cast<const sockaddr*>(interfaceAddress.data()),
                   interfaceAddress.size()) != 0) {
            setError(error, Error::posix(errno));
            close();
            return false;
        }
    }
    if (!configureStreams(error)) {
        close();
        return false;
    }
    if (::connect(connecting_, reinterpret_cast<const sockaddr*>(address.data()), address.size()) !=
            0 &&
        errno != EINPROGRESS) {
        setError(error, socketError(CFSocketError));
        close();
        return false;
    }
    watchConnecting();
    startConnectTimeout(timeout);
    flags_ |= flagDidStartDelegate;
    return true;
}

void RunLoopSocket::watchConnecting() {
    if (connecting_ < 0 || !attached() || connectWatch_.isActive()) return;
    connectWatch_ = runLoop_->watchDescriptor(connecting_, RunLoop::Condition::Writable,
                                              [weak = weak_from_this()] {
                                                  if (auto self = weak.lock()) {
                                                      self->connectReady();
                                                  }
                                              });
}

void RunLoopSocket::connectReady() {
    auto self = shared_from_this();
    connectWatch_.cancel();
    int soError = 0;
    socklen_t length = sizeof soError;
    getsockopt(connecting_, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0) {
        closeWithError(socketError(CFSocketError));
        return;
    }
    int fd = connecting_;
    connecting_ = -1;
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
    (local.ss_family == AF_INET ? nativeSocket4_ : nativeSocket6_) = fd;
    streams_ = RunLoopStreamPair::adopt(fd);
    streams_->setShouldCloseNativeSocket(true);
    Error error;
    if (!attachStreams(&error) || !openStreams(&error)) closeWithError(error);
}

bool RunLoopSocket::configureStreams(Error* error) {
    if (delegate_ && delegate_->onSocketWillConnect(this) == false) {
        setError(error, socketError(CanceledError));
        return false;
    }
    return true;
}

bool RunLoopSocket::attachStreams(Error*) {
    using Side = RunLoopStreamPair::Side;
    for (Side side : {Side::Read, Side::Write}) {
        streams_->setClient(
            side,
            side == Side::Read ? RunLoopStreamPair::kReadEvents : RunLoopStreamPair::kWriteEvents,
            [weak = weak_from_this(), side](RunLoopStreamPair::Event event) {
                if (auto self = weak.lock()) self->streamEvent(side, event);
            });
    }
    if (attached()) streams_->schedule(*runLoop_);
    return true;
}

bool RunLoopSocket::openStreams(Error* error) {
    using Side = RunLoopStreamPair::Side;
    for (Side side : {Side::Read, Side::Write}) {
        if (!streams_->open(side)) {
            log(LogLevel::Warning, "RunLoopSocket %p couldn't open %s stream,",
                static_cast<void*>(this), side == Side::Read ? "read" : "write");
            setError(error, streamError().value_or(socketError(CFSocketError)));
            return false;
        }
    }
    return true;
}

void RunLoopSocket::streamEvent(RunLoopStreamPair::Side side, RunLoopStreamPair::Event event) {
    using E = RunLoopStreamPair;
    auto self = shared_from_this();
    bool read = side == RunLoopStreamPair::Side::Read;
    bool startingTLS = (flags_ & flagStartingReadTLS) && (flags_ & flagStartingWriteTLS);
    switch (event) {
        case E::OpenCompleted:
            flags_ |= read ? flagDidCompleteOpenForRead : flagDidCompleteOpenForWrite;
            doStreamOpen();
            break;
        case E::HasBytesAvailable:
        case E::CanAcceptBytes:
            if (startingTLS) {
                onTLSHandshakeSuccessful();
            } else if (read) {
                flags_ |= flagSocketHasBytesAvailable;
                doBytesAvailable();
            } else {
                flags_ |= flagSocketCanAcceptBytes;
                doSendBytes();
            }
            break;
        case E::ErrorOccurred:
        case E::EndEncountered:
            closeWithError(streamError());
            break;
    }
}

void RunLoopSocket::doStreamOpen() {
    if (!(flags_ & flagDidCompleteOpenForRead) || !(flags_ & flagDidCompleteOpenForWrite)) return;
    int handle = streams_->nativeHandle();
    if (nativeSocket4_ >= 0) {
        wrapped4_ = handle;
    } else if (nativeSocket6_ >= 0) {
        wrapped6_ = handle;
    } else {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (handle < 0 || getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
            log(LogLevel::Warning, "RunLoopSocket couldn't determine IP version of socket");
            log(LogLevel::Warning,
                "RunLoopSocket %p couldn't get socket from streams, %s. "
                "Disconnecting.",
                static_cast<void*>(this), "no peer address");
            closeWithError(socketError(CFSocketError));
            return;
        }
        if (peer.ss_family == AF_INET) {
            wrapped4_ = nativeSocket4_ = handle;
        } else {
            wrapped6_ = nativeSocket6_ = handle;
        }
    }
    connectTimer_.invalidate();
    if (delegate_) {
        delegate_->onSocketDidConnectToHost(this, connectedHost().value_or(""), connectedPort());
    }
    maybeDequeueRead();
    maybeDequeueWrite();
}

void RunLoopSocket::startConnectTimeout(double timeout) {
    if (timeout < 0) return;
    connectTimer_.start(*runLoop_, timeout, attached(), [this] { doConnectTimeout(); });
}

void RunLoopSocket::doConnectTimeout() {
    auto self = shared_from_this();
    closeWithError(socketError(ConnectTimeoutError));
}

// ---- disconnecting ----

void RunLoopSocket::disconnect() { close(); }

void RunLoopSocket::disconnectAfterReading() {
    flags_ |= flagForbidReadsWrites | flagDisconnectAfterReads;
    maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterWriting() {
    flags_ |= flagForbidReadsWrites | flagDisconnectAfterWrites;
    maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterReadingAndWriting() {
    flags_ |= flagForbidReadsWrites | flagDisconnectAfterReads | flagDisconnectAfterWrites;
    maybeScheduleDisconnect();
}

void RunLoopSocket::maybeScheduleDisconnect() {
    bool readsIdle = readQueue_.empty() && !currentRead_;
    bool writesIdle = writeQueue_.empty() && !currentWrite_;
    bool should = false;
    if (flags_ & flagDisconnectAfterReads) {
        should = readsIdle && (!(flags_ & flagDisconnectAfterWrites) || writesIdle);
    } else if (flags_ & flagDisconnectAfterWrites) {
        should = writesIdle;
    }
    if (!should || !attached()) return;
    disconnectPerform_.perform(*runLoop_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->disconnect();
    });
}

void RunLoopSocket::emptyQueues() {
    if (currentRead_) endCurrentRead();
    if (currentWrite_) endCurrentWrite();
    readQueue_.clear();
    writeQueue_.clear();
    performs_.cancelAll();
    flags_ &= ~(flagDequeueReadScheduled | flagDequeueWriteScheduled);
}

void RunLoopSocket::closeWithError(const std::optional<Error>& error) {
    flags_ |= flagClosingWithError;
    if (flags_ & flagDidStartDelegate) {
        // The bytes the interrupted read holds go back in front of the pre-buffer, where
        // unreadData finds them.
        if (currentRead_) {
            if (auto* read = std::get_if<std::shared_ptr<ReadPacket>>(&*currentRead_)) {
                const ReadPacket& p = **read;
                auto begin = p.buffer->begin() + p.startOffset;
                partialReadBuffer_.insert(partialReadBuffer_.begin(), begin, begin + p.bytesDone);
            }
        }
        emptyQueues();
        if (delegate_) delegate_->onSocketWillDisconnectWithError(this, error);
    }
    close();
}

void RunLoopSocket::close() {
    emptyQueues();
    partialReadBuffer_.clear();
    disconnectPerform_.cancelAll();
    connectTimer_.invalidate();
    if (streams_) {
        for (auto side : {RunLoopStreamPair::Side::Read, RunLoopStreamPair::Side::Write}) {
            streams_->setClient(side, 0, nullptr);
            streams_->close(side);
        }
        streams_.reset();
    }
    accept4_.cancel();
    accept6_.cancel();
    connectWatch_.cancel();
    for (int* fd : {&listen4_, &listen6_, &connecting_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    nativeSocket4_ = nativeSocket6_ = -1;
    wrapped4_ = wrapped6_ = -1;
    bool started = flags_ & flagDidStartDelegate;
    flags_ &= flagEnablePreBuffering;
    if (started && delegate_) delegate_->onSocketDidDisconnect(this);
}

std::optional<Bytes> RunLoopSocket::unreadData() {
    if (!(flags_ & flagClosingWithError) || !streams_) return std::nullopt;
    while (streams_->hasBytesAvailable()) {
        size_t length = partialReadBuffer_.size();
        partialReadBuffer_.resize(length + ReadPacket::kChunk);
        ssize_t n = streams_->read(partialReadBuffer_.data() + length, ReadPacket::kChunk);
        partialReadBuffer_.resize(length + (n > 0 ? static_cast<size_t>(n) : 0));
        if (n <= 0) break;
    }
    return partialReadBuffer_;
}

// ---- state ----

bool RunLoopSocket::isConnected() const {
    if (!streams_) return false;
    using S = RunLoopStreamPair::Status;
    S r = streams_->status(RunLoopStreamPair::Side::Read);
    S w = streams_->status(RunLoopStreamPair::Side::Write);
    return (r == S::Open || r == S::Reading || r == S::Error) &&
           (w == S::Open || w == S::Writing || w == S::Error);
}

bool RunLoopSocket::isDisconnected() const {
    return nativeSocket4_ < 0 && nativeSocket6_ < 0 && listen4_ < 0 && listen6_ < 0 &&
           connecting_ < 0 && wrapped4_ < 0 && wrapped6_ < 0 && !streams_;
}

}  // namespace quenbril
