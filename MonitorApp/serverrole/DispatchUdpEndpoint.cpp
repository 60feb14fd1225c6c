#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchUdpSocket.h"
#include "sockets/DispatchUdpSocketDelegate.h"

namespace quenbril {

namespace {

class DispatchUdpEndpoint final : public UdpEndpoint, private DispatchUdpSocketDelegate {
  public:
    explicit DispatchUdpEndpoint(UdpEndpointDelegate* delegate)
        : delegate_(delegate), socket_(DispatchUdpSocket::make(this, dispatch::Queue::main())) {
        // Receivers and remotes here speak IPv4 only.
        socket_->setIPv6Enabled(false);
    }
    ~DispatchUdpEndpoint() override {
        socket_->setDelegate(nullptr, true);
        socket_->close();
    }

    bool bindToPort(uint16_t port, const std::string& address, Error* error) override {
        // By the numeric address itself: every address of the loopback network can be bound,
        // listed on an interface or not.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        if (address.empty()) {
            local.sin_addr.s_addr = htonl(INADDR_ANY);
        } else if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
            if (error) *error = DispatchUdpSocket::badParamError("Not an IPv4 address: " + address);
            return false;
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(&local);
        return socket_->bindToAddress(Bytes(bytes, bytes + sizeof local), error);
    }
    bool enableReusePort(bool flag, Error* error) override {
        return socket_->enableReusePort(flag, error);
    }
    bool enableBroadcast(bool flag, Error* error) override {
        return socket_->enableBroadcast(flag, error);
    }
    bool setMulticastInterface(const std::string& address, Error* error) override {
        in_addr interface {};
        if (inet_pton(AF_INET, address.c_str(), &interface) != 1) {
            if (error) *error = DispatchUdpSocket::badParamError("Not an IPv4 address: " + address);
            return false;
        }
        int result = -1;
        int code = 0;
        socket_->performBlock([&] {
            const int fd = socket_->socket4FD();
            if (fd < 0) {
                code = EBADF;
                return;
            }
            result = setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
            if (result != 0) code = errno;
        });
        if (result != 0 && error)
            *error = Error::posix(code, "Error in setsockopt() IP_MULTICAST_IF");
        return result == 0;
    }
    bool beginReceiving(Error* error) override { return socket_->beginReceiving(error); }
    void sendData(Bytes data, const std::string& host, uint16_t port, double timeout,
                  long tag) override {
        socket_->sendData(std::move(data), host, port, timeout, tag);
    }
    std::optional<std::string> localHost() const override { return socket_->localHost(); }
    uint16_t localPort() const override { return socket_->localPort(); }

  private:
    void udpSocketDidReceiveData(DispatchUdpSocket*, const Bytes& data, const Bytes& address,
                                 const std::shared_ptr<void>&) override {
        if (delegate_) {
            delegate_->udpEndpointDidReceive(
                this, data, DispatchUdpSocket::hostFromAddress(address).value_or(""));
        }
    }
    void udpSocketDidNotSendDataWithTag(DispatchUdpSocket*, long tag, const Error& error) override {
        if (delegate_) delegate_->udpEndpointDidNotSend(this, tag, error);
    }
    void udpSocketDidConnectToAddress(DispatchUdpSocket*, const Bytes&) override {
        if (delegate_) delegate_->udpEndpointDidConnect(this);
    }
    void udpSocketDidNotConnect(DispatchUdpSocket*, const Error& error) override {
        if (delegate_) delegate_->udpEndpointDidNotConnect(this, error);
    }
    void udpSocketDidClose(DispatchUdpSocket*, const std::optional<Error>& error) override {
        if (delegate_) delegate_->udpEndpointDidClose(this, error);
    }

    UdpEndpointDelegate* delegate_;
    std::shared_ptr<DispatchUdpSocket> socket_;
};

}  // namespace

std::unique_ptr<UdpEndpoint> makeDispatchUdpEndpoint(UdpEndpointDelegate* delegate) {
    return std::make_unique<DispatchUdpEndpoint>(delegate);
}

}  // namespace quenbril
