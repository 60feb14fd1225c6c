// Vozod receiver text as a connection delivers it: the input is cut into chunks at every 0xFE
// byte, the chunks are joined into lines and each line is handled into a registry in memory,
// alternately from a receiver with a type-8 channel and from another.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "MonitorApp/serverrole/VozodHandler.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/ManualRunLoop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    static ManualRunLoop loop(1000);
    static bool installed = [] {
        RunLoop::setMain(&loop);
        return true;
    }();
    (void)installed;
    static WirelessManager registry;
    static VozodHandler handler;
    handler.setRegistry(&registry);
    // A type-8 channel, so that samples reach both parsers.
    if (!registry.device("Known")) {
        auto known = std::make_shared<WirelessDevice>();
        known->setName("Known");
        known->setIp("127.0.0.8");
        known->setChannel("1");
        known->setDeviceType(WirelessDevice::kVozodAD4D);
        registry.addDevice(known);
    }
    vozod::LineAssembler lines;
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0xFE) continue;
        lines.feed(std::string_view(text + start, i - start), [&](const std::string& line) {
            handler.processLine(line, (i & 1) ? "127.0.0.8" : "127.0.0.9", nullptr);
        });
        if (lines.pending().size() > vozod::kMaxLine) __builtin_trap();
        start = i + 1;
    }
    for (const auto& entry : registry.devices()) {
        const WirelessDevice& d = *entry.second;
        if (d.rf() > 100 || d.rfA() > 100 || d.rfB() > 100) __builtin_trap();
        if (d.quality() < 0 || d.quality() > 5) __builtin_trap();
    }
    if (registry.devices().size() > 64) registry.devices().clear();
    return 0;
}
