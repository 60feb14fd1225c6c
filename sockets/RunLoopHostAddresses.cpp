#include "sockets/RunLoopHostAddresses.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

namespace quenbril {

namespace {

Bytes bytesOf(const void* address, size_t length) {
    const auto* p = static_cast<const uint8_t*>(address);
    return Bytes(p, p + length);
}

Bytes make4(uint16_t port, bool loopback) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    return bytesOf(&a, sizeof a);
}

Bytes make6(uint16_t port, bool loopback) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    return bytesOf(&a, sizeof a);
}

}  // namespace

int RunLoopHostAddresses::convert(const std::string& host, uint16_t port, bool passive,
                                  int socketType) {
    if (host.empty()) {
        if (!passive) return EAI_NONAME;
        address4 = make4(port, false);
        address6 = make6(port, false);
        return 0;
    }
    if (host == "localhost" || host == "loopback") {
        address4 = make4(port, true);
        address6 = make6(port, true);
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_protocol = socketType == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    if (passive) hints.ai_flags = AI_PASSIVE;
    char service[8];
    std::snprintf(service, sizeof service, "%hu", port);
    addrinfo* results = nullptr;
    int status = getaddrinfo(host.c_str(), service, &hints, &results);
    if (status != 0) return status;
    for (addrinfo* r = results; r; r = r->ai_next) {
        if (r->ai_family == AF_INET && !address4 && r->ai_addrlen == sizeof(sockaddr_in)) {
            address4 = bytesOf(r->ai_addr, r->ai_addrlen);
        } else if (r->ai_family == AF_INET6 && !address6 && r->ai_addrlen == sizeof(sockaddr_in6)) {
            address6 = bytesOf(r->ai_addr, r->ai_addrlen);
        }
    }
    freeaddrinfo(results);
    return 0;
}

}  // namespace quenbril
