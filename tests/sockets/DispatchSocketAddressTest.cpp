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
    auto port = [](const Bytes& a) { return DispatchSocket::portFromAddress(a); };
    Bytes a4, a6;
    DispatchSocket::getInterfaceAddress(&a4, &a6, ":8080", 0);
    EXPECT_EQ(DispatchSocket::hostFromAddress(a4), "0.0.0.0");
    EXPECT_EQ(DispatchSocket::hostFromAddress(a6), "::");
    EXPECT_EQ(port(a4), 8080);
    EXPECT_EQ(port(a6), 8080);

    DispatchSocket::getInterfaceAddress(&a4, &a6, "lo:8080", 0);
    EXPECT_EQ(DispatchSocket::hostFromAddress(a4), "127.0.0.1");
    EXPECT_EQ(DispatchSocket::hostFromAddress(a6), "::1");
    EXPECT_EQ(port(a4), 8080);
    DispatchSocket::getInterfaceAddress(&a4, &a6, "lo:0", 0);
    EXPECT_EQ(port(a4), 0);
    DispatchSocket::getInterfaceAddress(&a4, &a6, "lo:70000", 0);
    EXPECT_EQ(port(a4), 0);
    DispatchSocket::getInterfaceAddress(&a4, &a6, "lo:8080", 99);  // a given port wins
    EXPECT_EQ(port(a4), 99);

    DispatchSocket::getInterfaceAddress(&a4, &a6, "127.0.0.1", 5);  // found by address text
    EXPECT_EQ(DispatchSocket::hostFromAddress(a4), "127.0.0.1");
    EXPECT_TRUE(a6.empty());
    DispatchSocket::getInterfaceAddress(&a4, &a6, "loopback", 5);
    EXPECT_EQ(DispatchSocket::hostFromAddress(a6), "::1");
    DispatchSocket::getInterfaceAddress(&a4, &a6, "nosuchif0", 5);
    EXPECT_TRUE(a4.empty());
    EXPECT_TRUE(a6.empty());
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
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_AGAIN), 2);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_BADFLAGS), 3);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_FAIL), 4);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_FAMILY), 5);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_MEMORY), 6);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_NONAME), 8);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_SERVICE), 9);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_SOCKTYPE), 10);
    EXPECT_EQ(DispatchSocket::portableResolverCode(EAI_SYSTEM), 11);
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

TEST(DispatchSocketAddress, TerminatorsAndErrors) {
    EXPECT_EQ(DispatchSocket::CRLFData(), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(DispatchSocket::CRData(), (Bytes{0x0D}));
    EXPECT_EQ(DispatchSocket::LFData(), (Bytes{0x0A}));
    EXPECT_EQ(DispatchSocket::ZeroData(), (Bytes{0x00}));
    EXPECT_EQ(DispatchSocket::readTimeoutError().code, 4);
    EXPECT_EQ(DispatchSocket::readTimeoutError().description, "Read operation timed out");
    EXPECT_EQ(DispatchSocket::writeTimeoutError().description, "Write operation timed out");
    EXPECT_EQ(DispatchSocket::readMaxedOutError().description,
              "Read operation reached set maximum length");
    EXPECT_EQ(DispatchSocket::connectionClosedError().description, "Socket closed by remote peer");
    EXPECT_EQ(DispatchSocket::otherError("x").code, 8);
    Error ssl = DispatchSocket::sslError(-9806);
    EXPECT_EQ(ssl.domain, "kCFStreamErrorDomainSSL");
    EXPECT_EQ(ssl.code, -9806);
}

}  // namespace
}  // namespace quenbril::test
