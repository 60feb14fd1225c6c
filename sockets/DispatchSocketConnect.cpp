// DispatchSocket: connecting (by host, by address, to a Unix-domain path) and accepting.
//
// Connects are non-blocking and driven from the socket queue: no other thread ever holds a
// descriptor of ours, so a time-out or a disconnect cannot close a descriptor that another
// thread is about to use (and that a later attempt may have been given).

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "foundation/Log.h"
#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {

constexpr int kListenBacklog = 1024;
/// Connections taken per accept event before the queue serves other work.
constexpr int kMaxAcceptsPerEvent = 256;
/// How long a listener rests when the process is out of descriptors.
constexpr double kAcceptPauseSeconds = 0.1;

const char* const kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";

bool setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void setPort(Bytes& address, uint16_t port) {
    if (address.size() == sizeof(sockaddr_in6)) {
        sockaddr_in6 a;
        std::memcpy(&a, address.data(), sizeof a);
        a.sin6_port = htons(port);
        std::memcpy(address.data(), &a, sizeof a);
    } else if (address.size() == sizeof(sockaddr_in)) {
        sockaddr_in a;
        std::memcpy(&a, address.data(), sizeof a);
        a.sin_port = htons(port);
        std::memcpy(address.data(), &a, sizeof a);
    }
}

/// Closes a descriptor and preserves errno (for the error made after a failed step).
void closeKeepingErrno(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
}

}  // namespace

// ---- checks ----

bool DispatchSocket::runStartingCall(Error* error, const std::function<bool(Error*)>& attempt) {
    Error failure;
    bool result = false;
    runSync([&] { result = attempt(&failure); });
    if (error) *error = result ? Error{} : failure;
    return result;
}

bool DispatchSocket::checkCanStart(const std::string& verb, Error* error) const {
    if (!delegate_.live()) {
        *error =
            badConfigError("Attempting to " + verb + " without a delegate. Set a delegate first.");
        return false;
    }
    if (!delegateQueue_) {
        *error = badConfigError("Attempting to " + verb +
                                " without a delegate queue. Set a delegate queue first.");
        return false;
    }
    return true;
}

bool DispatchSocket::checkNotStarted(const std::string& verb, Error* error) const {
    if (flags_ & flagStarted) {
        *error = badConfigError("Attempting to " + verb +
                                " while connected or accepting connections. Disconnect first.");
        return false;
    }
    return true;
}

bool DispatchSocket::checkAFamilyEnabled(Error* error) const {
    if ((config_ & configNoIPv4) && (config_ & configNoIPv6)) {
        *error = badConfigError(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
        return false;
    }
    return true;
}

bool DispatchSocket::checkInterfaceFamilies(const Bytes& interface4, const Bytes& interface6,
                                            Error* error) const {
    if (interface4.empty() && interface6.empty()) {
        *error = badParamError(kUnknownInterface);
        return false;
    }
    if ((config_ & configNoIPv4) && interface6.empty()) {
        *error =
            badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
        return false;
    }
    if ((config_ & configNoIPv6) && interface4.empty()) {
        *error =
            badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
        return false;
    }
    return true;
}

bool DispatchSocket::preConnectWithInterface(const std::string& interface, Error* error) {
    if (!checkCanStart("connect", error) || !checkNotStarted("connect", error) ||
        !checkAFamilyEnabled(error)) {
        return false;
    }
    if (!interface.empty()) {
        Bytes interface4, interface6;
        getInterfaceAddress(&interface4, &interface6, interface, 0);
        if (!checkInterfaceFamilies(interface4, interface6, error)) return false;
        connectInterface4_ = std::move(interface4);
        connectInterface6_ = std::move(interface6);
    }
    return true;
}

bool DispatchSocket::preConnectWithUrl(const std::string& path, Error* error) {
    if (!checkCanStart("connect", error) || !checkNotStarted("connect", error)) return false;
    auto address = getInterfaceAddressFromUrl(path);
    if (!address) {
        *error = badParamError(kUnknownInterface);
        return false;
    }
    connectInterfaceUN_ = std::move(*address);
    return true;
}

// ---- connecting ----

bool DispatchSocket::connectToHost(const std::string& host, uint16_t port, Error* error) {
    return connectToHost(host, port, std::string(), -1, error);
}

bool DispatchSocket::connectToHost(const std::string& host, uint16_t port, double timeout,
                                   Error* error) {
    return connectToHost(host, port, std::string(), timeout, error);
}

bool DispatchSocket::connectToHost(const std::string& host, uint16_t port,
                                   const std::string& interface, double timeout, Error* error) {
    return runStartingCall(error, [&](Error* failure) {
        if (host.empty()) {
            *failure = badParamError(
                "Invalid host parameter (nil or \"\"). Should be a domain name or IP address "
                "string.");
            return false;
        }
        if (!preConnectWithInterface(interface, failure)) return false;
        flags_ |= flagStarted;

        int aStateIndex = stateIndex_;
        std::weak_ptr<DispatchSocket> weak = weak_from_this();
        QueuePtr queue = socketQueue_;
        dispatch::Queue::global()->async([weak, queue, host, port, aStateIndex] {
            Error lookupError;
            auto addresses = lookupHost(host, port, &lookupError);
            if (weak.expired()) return;
            if (!addresses) {
                queue->async([weak, aStateIndex, lookupError] {
                    if (auto self = weak.lock()) self->lookupDidFail(aStateIndex, lookupError);
                });
                return;
            }
            Bytes address4, address6;
            for (const Bytes& a : *addresses) {
                if (address4.empty() && isIPv4Address(a)) {
                    address4 = a;
                } else if (address6.empty() && isIPv6Address(a)) {
                    address6 = a;
                }
            }
            queue->async([weak, aStateIndex, address4, address6] {
                if (auto self = weak.lock()) {
                    self->lookupDidSucceed(aStateIndex, address4, address6);
                }
            });
        });
        startConnectTimeout(timeout);
        return true;
    });
}

void DispatchSocket::lookupDidSucceed(int aStateIndex, Bytes address4, Bytes address6) {
    if (aStateIndex != stateIndex_) return;
    bool noIPv4 = config_ & configNoIPv4;
    bool noIPv6 = config_ & configNoIPv6;
    if (noIPv4 && address6.empty()) {
        closeWithError(otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
        return;
    }
    if (noIPv6 && address4.empty()) {
        closeWithError(otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
        return;
    }
    // A disabled family is never used, even when the host has an address of it.
    if (noIPv4) address4.clear();
    if (noIPv6) address6.clear();
    Error failure;
    if (!connectWithAddress4(address4, address6, &failure)) closeWithError(failure);
}

void DispatchSocket::lookupDidFail(int aStateIndex, const Error& error) {
    if (aStateIndex != stateIndex_) return;
    endConnectTimeout();
    closeWithError(error);
}

bool DispatchSocket::connectWithAddress4(const Bytes& address4, const Bytes& address6,
                                         Error* error) {
    bool useIPv6 = address4.empty() || (!address6.empty() && (config_ & configPreferIPv6));
    const Bytes& address = useIPv6 ? address6 : address4;
    const Bytes& interface = useIPv6 ? connectInterface6_ : connectInterface4_;

    int fd = ::socket(useIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errnoErrorWithReason("Error in socket() function");
        return false;
    }
    if (!interface.empty()) {
        if (portFromAddress(interface) != 0) {
            int on = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(interface.data()),
                   static_cast<socklen_t>(interface.size())) != 0) {
            // Close it here: the socket is not started yet, so no close would ever find it.
            *error = errnoErrorWithReason("Error in bind() function");
            ::close(fd);
            return false;
        }
    }
    (useIPv6 ? socket6FD_ : socket4FD_) = fd;
    if (!startNonBlockingConnect(fd, address, error)) {
        (useIPv6 ? socket6FD_ : socket4FD_) = -1;
        return false;
    }
    return true;
}

bool DispatchSocket::startNonBlockingConnect(int fd, const Bytes& address, Error* error) {
    if (!setNonBlocking(fd)) {
        *error = otherError("Error enabling non-blocking IO on socket (fcntl)");
        ::close(fd);
        return false;
    }
    connectIndex_ = stateIndex_;
    createSources(fd);
    int status = ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()),
                           static_cast<socklen_t>(address.size()));
    if (status == 0 || errno == EINPROGRESS) {
        // Completion (or failure) shows as writability; the write source reports it.
        writeSource_->resume();
        flags_ &= ~flagWriteSourceSuspended;
        return true;
    }
    Error failure = errnoErrorWithReason("Error in connect() function");
    if (socketUN_ == fd) {
        log(LogLevel::Warning, "connect: %s", std::strerror(static_cast<int>(failure.code)));
    }
    int aStateIndex = stateIndex_;
    runAsync([this, aStateIndex, failure] { didNotConnect(aStateIndex, failure); });
    return true;
}

void DispatchSocket::connectReady() {
    int fd = connectedFD();
    int code = 0;
    socklen_t length = sizeof code;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
    if (code == 0) {
        didConnect(connectIndex_);
    } else {
        if (socketUN_ == fd) log(LogLevel::Warning, "connect: %s", std::strerror(code));
        didNotConnect(connectIndex_, Error::posix(code, "Error in connect() function"));
    }
}

bool DispatchSocket::connectToAddress(const Bytes& address, Error* error) {
    return connectToAddress(address, std::string(), -1, error);
}

bool DispatchSocket::connectToAddress(const Bytes& address, double timeout, Error* error) {
    return connectToAddress(address, std::string(), timeout, error);
}

bool DispatchSocket::connectToAddress(const Bytes& address, const std::string& interface,
                                      double timeout, Error* error) {
    return runStartingCall(error, [&](Error* failure) {
        Bytes address4, address6;
        if (isIPv6Address(address) && address.size() == sizeof(sockaddr_in6)) {
            address6 = address;
        } else if (isIPv4Address(address) && address.size() == sizeof(sockaddr_in)) {
            address4 = address;
        } else {
            *failure = badParamError("A valid IPv4 or IPv6 address was not given");
            return false;
        }
        if (!address4.empty() && (config_ & configNoIPv4)) {
            *failure = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
            return false;
        }
        if (!address6.empty() && (config_ & configNoIPv6)) {
            *failure = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
            return false;
        }
        if (!preConnectWithInterface(interface, failure)) return false;
        if (!connectWithAddress4(address4, address6, failure)) return false;
        flags_ |= flagStarted;
        startConnectTimeout(timeout);
        return true;
    });
}

bool DispatchSocket::connectToUrl(const std::string& path, double timeout, Error* error) {
    return runStartingCall(error, [&](Error* failure) {
        if (path.empty()) {
            *failure = badParamError("Invalid unix domain socket url.");
            return false;
        }
        if (!preConnectWithUrl(path, failure)) return false;
        flags_ |= flagStarted;
        Error connectError;
        if (!connectWithAddressUN(connectInterfaceUN_, &connectError)) {
            closeWithError(connectError);
            *failure = Error{};
            return false;
        }
        startConnectTimeout(timeout);
        return true;
    });
}

bool DispatchSocket::connectWithAddressUN(const Bytes& address, Error* error) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errnoErrorWithReason("Error in socket() function");
        return false;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socketUN_ = fd;
    if (!startNonBlockingConnect(fd, address, error)) {
        socketUN_ = -1;
        return false;
    }
    return true;
}

void DispatchSocket::didConnect(int aStateIndex) {
    if (aStateIndex != stateIndex_) return;
    flags_ |= flagConnected;
    endConnectTimeout();

    std::optional<std::string> host;
    uint16_t port = 0;
    if (socket4FD_ != -1) {
        host = connectedHost4();
        port = connectedPort4();
    } else if (socket6FD_ != -1) {
        host = connectedHost6();
        port = connectedPort6();
    }
    if (host) {
        notifyDelegate([host = *host, port](DispatchSocketDelegate& d, DispatchSocket* sock) {
            d.socketDidConnectToHost(sock, host, port);
        });
    } else if (socketUN_ != -1) {
        std::string url = connectedUrlFromSocketUN().value_or(std::string());
        notifyDelegate([url](DispatchSocketDelegate& d, DispatchSocket* sock) {
            d.socketDidConnectToUrl(sock, url);
        });
    }
    // Reads and writes queued while connecting start now, after the connect callback.
    setupReadAndWriteSourcesForNewlyConnectedSocket(connectedFD());
    maybeDequeueRead();
    maybeDequeueWrite();
}

void DispatchSocket::didNotConnect(int aStateIndex, const Error& error) {
    if (aStateIndex != stateIndex_) return;
    closeWithError(error);
}

// ---- connect time-out ----

void DispatchSocket::startConnectTimeout(double timeout) {
    if (timeout < 0) return;
    connectTimer_ = startTimer(timeout, [](DispatchSocket& s) { s.doConnectTimeout(); });
}

void DispatchSocket::endConnectTimeout() {
    if (connectTimer_) {
        connectTimer_->cancel();
        connectTimer_.reset();
    }
    ++stateIndex_;
    connectInterface4_.clear();
    connectInterface6_.clear();
}

void DispatchSocket::doConnectTimeout() {
    endConnectTimeout();
    closeWithError(connectTimeoutError());
}

// ---- accepting ----

bool DispatchSocket::acceptOnPort(uint16_t port, Error* error) {
    return acceptOnInterface(std::string(), port, error);
}

int DispatchSocket::createListeningSocket(int domain, const Bytes& address, bool v6Only,
                                          Error* error) {
    int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errnoErrorWithReason("Error in socket() function");
        return -1;
    }
    auto fail = [&](const char* reason) {
        *error = errnoErrorWithReason(reason);
        closeKeepingErrno(fd);
        return -1;
    };
    if (!setNonBlocking(fd)) return fail("Error enabling non-blocking IO on socket (fcntl)");
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return fail("Error enabling address reuse (setsockopt)");
    }
    // Both families listen on one port: the IPv6 socket must leave IPv4 to the IPv4 socket.
    if (v6Only && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
        return fail("Error enabling IPv6-only mode (setsockopt)");
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()),
               static_cast<socklen_t>(address.size())) != 0) {
        return fail("Error in bind() function");
    }
    if (::listen(fd, kListenBacklog) != 0) return fail("Error in listen() function");
    return fd;
}

bool DispatchSocket::acceptOnInterface(const std::string& interface, uint16_t port, Error* error) {
    return runStartingCall(error, [&](Error* failure) {
        if (!checkCanStart("accept", failure) || !checkAFamilyEnabled(failure) ||
            !checkNotStarted("accept", failure)) {
            return false;
        }

        Bytes interface4, interface6;
        getInterfaceAddress(&interface4, &interface6, interface, port);
        if (!checkInterfaceFamilies(interface4, interface6, failure)) return false;
        bool enable4 = !(config_ & configNoIPv4) && !interface4.empty();
        bool enable6 = !(config_ & configNoIPv6) && !interface6.empty();

        int fd4 = -1, fd6 = -1;
        if (enable4) {
            fd4 = createListeningSocket(AF_INET, interface4, false, failure);
            if (fd4 < 0) return false;
        }
        if (enable6) {
            if (enable4 && portFromAddress(interface6) == 0) {
                // Let the IPv6 socket take the port the system gave the IPv4 one.
                setPort(interface6, portFromFD(fd4, false));
            }
            fd6 = createListeningSocket(AF_INET6, interface6, enable4, failure);
            if (fd6 < 0) {
                if (fd4 >= 0) ::close(fd4);
                return false;
            }
        }
        socket4FD_ = fd4;
        socket6FD_ = fd6;
        if (fd4 >= 0) accept4Source_ = makeAcceptSource(fd4);
        if (fd6 >= 0) accept6Source_ = makeAcceptSource(fd6);
        flags_ |= flagStarted;
        return true;
    });
}

bool DispatchSocket::acceptOnUrl(const std::string& path, Error* error) {
    return runStartingCall(error, [&](Error* failure) {
        if (!checkCanStart("accept", failure) || !checkNotStarted("accept", failure)) return false;
        std::error_code ec;
        if (!path.empty() && std::filesystem::symlink_status(path, ec).type() !=
                                 std::filesystem::file_type::not_found) {
            if (!std::filesystem::remove(path, ec) || ec) {
                *failure = otherError("Could not remove previous unix domain socket at given url.");
                return false;
            }
        }
        auto address = getInterfaceAddressFromUrl(path);
        if (!address) {
            *failure = badParamError(
                "Invalid unix domain url. Specify a valid file url that does not exist (e.g. "
                "\"file:///tmp/socket\")");
            return false;
        }
        int fd = createListeningSocket(AF_UNIX, *address, false, failure);
        if (fd < 0) return false;
        socketUN_ = fd;
        socketUrl_ = path;
        acceptUNSource_ = makeAcceptSource(fd);
        flags_ |= flagStarted;
        return true;
    });
}

std::shared_ptr<dispatch::Source> DispatchSocket::makeAcceptSource(int fd) {
    // The listening descriptor closes once the source has let it go.
    auto source =
        dispatch::DescriptorSource::makeRead(dispatch::SharedDescriptor::adopt(fd), socketQueue_);
    std::weak_ptr<DispatchSocket> weak = weak_from_this();
    source->setEventHandler([weak, fd] {
        if (auto self = weak.lock()) self->acceptReady(fd);
    });
    source->resume();
    return source;
}

void DispatchSocket::acceptReady(int listenFD) {
    // The system cannot tell how many connections wait: take them until none is left (or a
    // bounded number, so one busy listener cannot hold the queue).
    for (int i = 0; i < kMaxAcceptsPerEvent; ++i) {
        if (!doAccept(listenFD)) break;
    }
}

void DispatchSocket::pauseAccepting() {
    if (acceptPauseTimer_) return;
    for (auto* source : {&accept4Source_, &accept6Source_, &acceptUNSource_}) {
        if (*source) (*source)->suspend();
    }
    acceptPauseTimer_ = startTimer(kAcceptPauseSeconds, [](DispatchSocket& s) {
        if (!s.acceptPauseTimer_) return;
        s.acceptPauseTimer_->cancel();
        s.acceptPauseTimer_.reset();
        for (auto* source : {&s.accept4Source_, &s.accept6Source_, &s.acceptUNSource_}) {
            if (*source) (*source)->resume();
        }
    });
}

bool DispatchSocket::doAccept(int listenFD) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    int fd = ::accept4(listenFD, reinterpret_cast<sockaddr*>(&storage), &length, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE) {
            // The connection stays pending and the listener would fire again at once: rest
            // briefly instead of spinning.
            if (!acceptStarved_) {
                log(LogLevel::Warning, "DispatchSocket: out of descriptors, accepting paused");
                acceptStarved_ = true;
            }
            pauseAccepting();
        }
        return false;
    }
    acceptStarved_ = false;  // the episode is over: the next one is logged again
    Bytes peer(
        reinterpret_cast<const uint8_t*>(&storage),
        reinterpret_cast<const uint8_t*>(&storage) + std::min<size_t>(length, sizeof storage));
    if (!setNonBlocking(fd)) {
        ::close(fd);
        return false;
    }
    if (!delegateQueue_) {
        // Nobody can take the connection: close it rather than leak it.
        ::close(fd);
        return true;
    }
    enum {
        IPv4,
        IPv6,
        UN
    } family = listenFD == socket4FD_   ? IPv4
               : listenFD == socket6FD_ ? IPv6
                                        : UN;
    DelegateRef ref = delegate_;
    QueuePtr queue = delegateQueue_;
    std::shared_ptr<DispatchSocket> listener = shared_from_this();
    postToDelegateQueue([ref, queue, listener, fd, family, peer] {
        auto alive = ref.token.lock();
        DispatchSocketDelegate* delegate = alive ? ref.ptr : nullptr;
        QueuePtr childQueue;
        if (delegate) {
            childQueue = delegate->newSocketQueueForConnectionFromAddress(peer, listener.get());
        }
        auto child = make(delegate, queue, childQueue);
        if (family == IPv4) {
            child->socket4FD_ = fd;
        } else if (family == IPv6) {
            child->socket6FD_ = fd;
        } else {
            child->socketUN_ = fd;
        }
        child->flags_ = flagStarted | flagConnected;
        child->runAsync(
            [c = child.get(), fd] { c->setupReadAndWriteSourcesForNewlyConnectedSocket(fd); });
        if (delegate) delegate->socketDidAcceptNewSocket(listener.get(), child);
    });
    return true;
}

}  // namespace quenbril
