// Sony DWX replies as a receiver's TCP link delivers them, each chunk parsed into a registry in
// memory: the input is split into chunks at every 0xFE byte.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "MonitorApp/serverrole/SonyDevice.h"
#include "MonitorApp/serverrole/WirelessManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    static WirelessManager registry;
    static SonyDevice device("127.0.0.9", &registry, nullptr);
    WMAPI& api = device.wmapi();
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0xFE) continue;
        api.set(&api, data + start, i - start);
        start = i + 1;
    }
    uint8_t request[10];
    if (api.get(&api, request, sizeof request) != 10) __builtin_trap();
    for (const auto& entry : registry.devices()) {
        if (entry.first.empty() || entry.first.size() > 16) __builtin_trap();
        const int32_t battery = entry.second->battery();
        if (battery < -55 || battery > 100) __builtin_trap();
    }
    if (registry.devices().size() > 2) __builtin_trap();
    if (registry.devices().size() == 2 && (data[0] & 1)) registry.devices().clear();
    return 0;
}
