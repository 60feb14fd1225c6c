// The addresses of RunLoopSocket's sockets and its description.

#include <sys/socket.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "sockets/DispatchSocket.h"
#include "sockets/RunLoopSocket.h"

namespace quenbril {

namespace {

int domainOf(int fd) {
    int domain = AF_UNSPEC;
    socklen_t length = sizeof domain;
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0) return AF_UNSPEC;
    return domain;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

std::string pointerText(const void* p) { return p ? format("%p", p) : "0x0"; }

}  // namespace

/// The descriptor that answers for `family` (AF_INET, AF_INET6), or AF_UNSPEC for any: the
/// listening, connecting or wrapped socket first, then the native one.
int RunLoopSocket::queryFD(int family) const {
    int connecting = domainOf(connecting_);
    int socket4 = listen4_ >= 0           ? listen4_
                  : wrapped4_ >= 0        ? wrapped4_
                  : connecting == AF_INET ? connecting_
                                          : -1;
    int socket6 = listen6_ >= 0            ? listen6_
                  : wrapped6_ >= 0         ? wrapped6_
                  : connecting == AF_INET6 ? connecting_
                                           : -1;
    int order[4] = {socket4, socket6, nativeSocket4_, nativeSocket6_};
    for (int i = 0; i < 4; ++i) {
        bool four = i % 2 == 0;
        if (family == AF_INET && !four) continue;
        if (family == AF_INET6 && four) continue;
        if (order[i] >= 0) return order[i];
    }
    return -1;
}

std::optional<Bytes> RunLoopSocket::addressOf(int family, bool peer) const {
    int fd = queryFD(family);
    if (fd < 0) return std::nullopt;
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    auto* sa = reinterpret_cast<sockaddr*>(&a);
    if ((peer ? getpeername(fd, sa, &length) : getsockname(fd, sa, &length)) != 0) {
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + length);
}

std::optional<Bytes> RunLoopSocket::connectedAddress() const { return addressOf(AF_UNSPEC, true); }
std::optional<Bytes> RunLoopSocket::localAddress() const { return addressOf(AF_UNSPEC, false); }

#define QUENBRIL_HOST_AND_PORT(name, family, peer)                     \
    std::optional<std::string> RunLoopSocket::name##Host() const {     \
        auto a = addressOf(family, peer);                              \
        return a ? DispatchSocket::hostFromAddress(*a) : std::nullopt; \
    }                                                                  \
    uint16_t RunLoopSocket::name##Port() const {                       \
        auto a = addressOf(family, peer);                              \
        return a ? DispatchSocket::portFromAddress(*a) : 0;            \
    }

QUENBRIL_HOST_AND_PORT(connected, AF_UNSPEC, true)
QUENBRIL_HOST_AND_PORT(local, AF_UNSPEC, false)
#undef QUENBRIL_HOST_AND_PORT

std::optional<std::string> RunLoopSocket::connectedHost4() const {
    auto a = addressOf(AF_INET, true);
    return a ? DispatchSocket::hostFromAddress(*a) : std::nullopt;
}
std::optional<std::string> RunLoopSocket::connectedHost6() const {
    auto a = addressOf(AF_INET6, true);
    return a ? DispatchSocket::hostFromAddress(*a) : std::nullopt;
}
uint16_t RunLoopSocket::connectedPort4() const {
    auto a = addressOf(AF_INET, true);
    return a ? DispatchSocket::portFromAddress(*a) : 0;
}
uint16_t RunLoopSocket::connectedPort6() const {
    auto a = addressOf(AF_INET6, true);
    return a ? DispatchSocket::portFromAddress(*a) : 0;
}
std::optional<std::string> RunLoopSocket::localHost4() const {
    auto a = addressOf(AF_INET, false);
    return a ? DispatchSocket::hostFromAddress(*a) : std::nullopt;
}
std::optional<std::string> RunLoopSocket::localHost6() const {
    auto a = addressOf(AF_INET6, false);
    return a ? DispatchSocket::hostFromAddress(*a) : std::nullopt;
}
uint16_t RunLoopSocket::localPort4() const {
    auto a = addressOf(AF_INET, false);
    return a ? DispatchSocket::portFromAddress(*a) : 0;
}
uint16_t RunLoopSocket::localPort6() const {
    auto a = addressOf(AF_INET6, false);
    return a ? DispatchSocket::portFromAddress(*a) : 0;
}

bool RunLoopSocket::isIPv4() const { return nativeSocket4_ >= 0 || queryFD(AF_INET) >= 0; }

bool RunLoopSocket::isIPv6() const { return nativeSocket6_ >= 0 || queryFD(AF_INET6) >= 0; }

std::string RunLoopSocket::sideText(bool peer) const {
    bool four = isIPv4(), six = isIPv6();
    auto host4 = peer ? connectedHost4() : localHost4();
    auto host6 = peer ? connectedHost6() : localHost6();
    if (four && six) {
        return format("%s/%s %u", host4.value_or("(null)").c_str(),
                      host6.value_or("(null)").c_str(),
                      unsigned(peer ? connectedPort4() : localPort4()));
    }
    if (four) {
        return format("%s %u", host4.value_or("(null)").c_str(),
                      unsigned(peer ? connectedPort4() : localPort4()));
    }
    if (six) {
        return format("%s %u", host6.value_or("(null)").c_str(),
                      unsigned(peer ? connectedPort6() : localPort6()));
    }
    return "nowhere";
}

std::string RunLoopSocket::description() const {
    using Side = RunLoopStreamPair::Side;
    std::string text = format("<RunLoopSocket %p", static_cast<const void*>(this));
    text += " local " + sideText(false) + " remote " + sideText(true) + " ";
    text += format("has queued %u reads %u writes, ", unsigned(readQueue_.size()),
                   unsigned(writeQueue_.size()));
    const auto* read =
        currentRead_ ? std::get_if<std::shared_ptr<ReadPacket>>(&*currentRead_) : nullptr;
    if (!read) {
        text += "no current read, ";
    } else {
        const ReadPacket& p = **read;
        int percent = p.readLength > 0 ? int(p.bytesDone * 100 / p.readLength) : 100;
        if (p.bytesDone == 0) percent = 0;
        text +=
            format("currently read %u bytes (%d%% done), ", unsigned(p.buffer->size()), percent);
    }
    const auto* write =
        currentWrite_ ? std::get_if<std::shared_ptr<RunLoopWritePacket>>(&*currentWrite_) : nullptr;
    if (!write) {
        text += "no current write, ";
    } else {
        const RunLoopWritePacket& p = **write;
        int percent = p.bytesDone > 0 ? int(p.bytesDone * 100 / p.buffer->size()) : 0;
        text += format("currently written %u (%d%%), ", unsigned(p.buffer->size()), percent);
    }
    auto status = [&](Side side) {
        return RunLoopStreamPair::statusWord(streams_ ? streams_->status(side)
                                                      : RunLoopStreamPair::Status::NotOpen);
    };
    // One object carries both streams, so both are named by its address.
    text += "read stream " + pointerText(streams_.get()) + " " + status(Side::Read) + ", ";
    text += "write stream " + pointerText(streams_.get()) + " " + status(Side::Write);
    if ((flags_ & flagDisconnectAfterReads) && (flags_ & flagDisconnectAfterWrites)) {
        text += ", will disconnect after reads & writes";
    } else if (flags_ & flagDisconnectAfterReads) {
        text += ", will disconnect after reads";
    } else if (flags_ & flagDisconnectAfterWrites) {
        text += ", will disconnect after writes";
    }
    if (!isConnected()) text += ", not connected";
    return text + ">";
}

}  // namespace quenbril
