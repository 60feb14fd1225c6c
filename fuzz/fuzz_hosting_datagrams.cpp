// Feeds arbitrary bytes to client hosting as datagrams from the network: the keyed archive
// reader and the delegate's message. None may crash.
#include <cstdint>
#include <cstdlib>

#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/ClientManagerDelegate.h"
#include "foundation/Log.h"

namespace {

// Walks every message the host hands on, as a delegate reading its fields would.
struct Reader : quenbril::ClientManagerDelegate {
    size_t messages = 0;
    void messageReceived(const quenbril::Value& object, quenbril::UdpEndpoint*) override {
        ++messages;
        if (object.description().empty()) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    ClientManager::Services services;
    services.udp = {};
    services.interfaces = [] { return std::optional<std::vector<NetworkInterface>>{}; };
    ClientManager host(services);
    Reader reader;
    host.setDelegate(&reader);
    // As the datagram socket delivers it.
    UdpEndpointDelegate& endpointDelegate = host;
    endpointDelegate.udpEndpointDidReceive(nullptr, Bytes(data, data + size), "127.0.0.1");
    return 0;
}
