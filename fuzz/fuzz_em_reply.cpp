// Sennheiser EM datagrams as the driver's socket delivers them, into a registry in memory: the
// input is split into datagrams at every 0xFE byte, all from one receiver.

#include <cstddef>
#include <cstdint>

#include "MonitorApp/serverrole/EMHandler.h"
#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    static WirelessManager registry;
    static EMHandler handler(nullptr);
    static bool started = [] {
        handler.connectTo(registry);
        return true;
    }();
    (void)started;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0xFE) continue;
        handler.udpEndpointDidReceive(nullptr, Bytes(data + start, data + i), "127.0.0.9");
        start = i + 1;
    }
    for (const auto& entry : registry.devices()) {
        const WirelessDevice& d = *entry.second;
        // Six characters, each at most a three-byte replacement sign, and always UTF-8.
        if (entry.first.empty() || entry.first.size() > 18) __builtin_trap();
        if (!receivertext::isValidUTF8(entry.first)) __builtin_trap();
        if (d.battery() < -1 || d.battery() > 255 * 20 - 80) __builtin_trap();
        if (d.rf() < 0 || d.rf() > 0xFFFF / 3) __builtin_trap();
    }
    if (registry.devices().size() > 2) __builtin_trap();
    if (size > 0 && (data[0] & 1)) registry.devices().clear();
    return 0;
}
