// Receiver replies as the registry takes them from the network: G3 "Name" and "RF1"
// datagrams through the registry, then the same text as a UHF-R sample and a G3 push.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "MonitorApp/serverrole/WirelessManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    static WirelessManager registry;
    const Bytes bytes(data, data + size);
    // A record at the sender's address, so that "RF1" replies reach one.
    auto known = std::make_shared<WirelessDevice>();
    known->setName("Known");
    known->setIp("127.0.0.9");
    known->setDeviceType(WirelessDevice::kG3);
    registry.devices()["Known"] = known;
    registry.udpEndpointDidReceive(nullptr, bytes, "127.0.0.9");
    if (registry.devices().size() > WirelessManager::kMaxDevices) __builtin_trap();
    for (const auto& entry : registry.devices()) {
        if (entry.first.empty()) __builtin_trap();
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    WirelessDevice uhfr;
    uhfr.setDeviceType(WirelessDevice::kUHFR);
    uhfr.parseResponse(text, 1);
    WirelessDevice g3;
    g3.setDeviceType(WirelessDevice::kG3);
    g3.parseResponse(text, 1);
    if (registry.devices().size() > 64) registry.devices().clear();
    return 0;
}
