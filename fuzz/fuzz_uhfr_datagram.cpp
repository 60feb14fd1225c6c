// UHF-R datagrams as the driver's socket delivers them, into a registry in memory: the input
// is cut into datagrams at every 0xFE byte, all from one receiver.

#include <cstddef>
#include <cstdint>

#include "MonitorApp/serverrole/UHFRHandler.h"
#include "MonitorApp/serverrole/WirelessManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    static WirelessManager registry;
    static UHFRHandler handler(nullptr);
    handler.setRegistry(&registry);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0xFE) continue;
        handler.udpEndpointDidReceive(nullptr, Bytes(data + start, data + i), "127.0.0.9");
        start = i + 1;
    }
    for (const auto& entry : registry.devices()) {
        if (entry.first.size() != UHFRHandler::kNameLength) __builtin_trap();
        if (entry.second->rf() > 100) __builtin_trap();
    }
    if (registry.devices().size() > 64) registry.devices().clear();
    return 0;
}
