#include <netdb.h>
#include <sys/un.h>

#include "SocketTestSupport.h"

namespace quenbril::test {
namespace {

TEST(DispatchSocketAddress, TextPortAndFamilyOfAddresses) {
    Bytes v4 = address4("127.0.0.1", 8080);
    Bytes v6 = address6("::1", 57576);
    EXPECT_EQ(DispatchSocket::hostFromAddress(v4), "127.0.0.1");
    EXPECT_EQ(DispatchSocket::portFromAddress(v4), 8080);
    EXPECT_EQ(DispatchSocket::hostFromAddress(v6), "::1");
    EXPECT_EQ(DispatchSocket::portFromAddress(v6), 57576);
    EXPECT_TRUE(DispatchSocket::isIPv4Address(v4));
    EXPECT_FALSE(DispatchSocket::isIPv6Address(v4));
    EXPECT_TRUE(DispatchSocket::isIPv6Address(v6));

    std::string host;
    uint16_t port = 0;
    int family = 0;
    EXPECT_TRUE(DispatchSocket::getHost(&host, &port, &family, v6));
    EXPECT_EQ(family, AF_INET6);
    EXPECT_TRUE(DispatchSocket::getHost(nullptr, nullptr, nullptr, v4));

    // Sixteen bytes of the IPv6 family are not a whole IPv6 address.
    Bytes truncated(v6.begin(), v6.begin() + 16);
    EXPECT_TRUE(DispatchSocket::isIPv6Address(truncated));
    EXPECT_FALSE(DispatchSocket::hostFromAddress(truncated));
    EXPECT_EQ(DispatchSocket::portFromAddress(truncated), 0);
    EXPECT_FALSE(DispatchSocket::getHost(&host, &port, truncated));
    EXPECT_FALSE(DispatchSocket::hostFromAddress(Bytes(4, 0)));
}

TEST(DispatchSocketAddress, InterfaceDescriptions) {
    struct Case {
        std::string description;
        uint16_t port;
        const char* host4;  // nullptr: no address of that family
        const char* host6;
        uint16_t expectedPort;
    };
    for (const Case& c :
         {Case{":8080", 0, "0.0.0.0", "::", 8080}, Case{"lo:8080", 0, "127.0.0.1", "::1", 8080},
          Case{"lo:0", 0, "127.0.0.1", "::1", 0}, Case{"lo:70000", 0, "127.0.0.1", "::1", 0},
          Case{"lo:8080", 99, "127.0.0.1", "::1", 99},    // a given port wins
          Case{"127.0.0.1", 5, "127.0.0.1", nullptr, 5},  // by address text
          Case{"loopback", 5, "127.0.0.1", "::1", 5}, Case{"nosuchif0", 5, nullptr, nullptr, 0}}) {
        SCOPED_TRACE(c.description + " " + std::to_string(c.port));
        Bytes a4, a6;
        DispatchSocket::getInterfaceAddress(&a4, &a6, c.description, c.port);
        EXPECT_EQ(DispatchSocket::hostFromAddress(a4).value_or(""), c.host4 ? c.host4 : "");
        EXPECT_EQ(DispatchSocket::hostFromAddress(a6).value_or(""), c.host6 ? c.host6 : "");
        EXPECT_EQ(DispatchSocket::portFromAddress(a4), c.expectedPort);
    }
    DispatchSocket::getInterfaceAddress(nullptr, nullptr, "lo", 5);
}

TEST(DispatchSocketAddress, LookupOfLocalhostNeedsNoResolver) {
    Error error;
    auto addresses = DispatchSocket::lookupHost("localhost", 4242, &error);
    ASSERT_TRUE(addresses);
    ASSERT_EQ(addresses->size(), 2u);
    EXPECT_EQ(DispatchSocket::hostFromAddress((*addresses)[0]), "127.0.0.1");
    EXPECT_EQ(DispatchSocket::hostFromAddress((*addresses)[1]), "::1");
    EXPECT_EQ(DispatchSocket::portFromAddress((*addresses)[1]), 4242);

    auto numeric = DispatchSocket::lookupHost("::1", 7, &error);
    ASSERT_TRUE(numeric);
    EXPECT_EQ((*numeric)[0].size(), sizeof(sockaddr_in6));
}

TEST(DispatchSocketAddress, ResolverErrorsKeepTheirPortableNumbers) {
    for (auto [code, portable] : {std::pair{EAI_AGAIN, 2},
                                  {EAI_BADFLAGS, 3},
                                  {EAI_FAIL, 4},
                                  {EAI_FAMILY, 5},
                                  {EAI_MEMORY, 6},
                                  {EAI_NONAME, 8},
                                  {EAI_SERVICE, 9},
                                  {EAI_SOCKTYPE, 10},
                                  {EAI_SYSTEM, 11}}) {
        EXPECT_EQ(DispatchSocket::portableResolverCode(code), portable) << gai_strerror(code);
    }
    Error e = DispatchSocket::gaiError(EAI_NONAME);
    EXPECT_EQ(e.domain, "kCFStreamErrorDomainNetDB");
    EXPECT_EQ(e.code, 8);
    EXPECT_EQ(e.description, gai_strerror(EAI_NONAME));
}

TEST(DispatchSocketAddress, UnixDomainPaths) {
    auto a = DispatchSocket::getInterfaceAddressFromUrl("/tmp/quenbril.sock");
    ASSERT_TRUE(a);
    ASSERT_EQ(a->size(), sizeof(sockaddr_un));
    sockaddr_un un;
    std::memcpy(&un, a->data(), sizeof un);
    EXPECT_EQ(un.sun_family, AF_UNIX);
    EXPECT_EQ(DispatchSocket::urlFromSockaddrUN(un), "/tmp/quenbril.sock");
    EXPECT_FALSE(DispatchSocket::getInterfaceAddressFromUrl(""));
    EXPECT_FALSE(DispatchSocket::getInterfaceAddressFromUrl("/" + std::string(107, 'x')));
    EXPECT_TRUE(DispatchSocket::getInterfaceAddressFromUrl("/" + std::string(106, 'x')));
}

}  // namespace
}  // namespace quenbril::test
