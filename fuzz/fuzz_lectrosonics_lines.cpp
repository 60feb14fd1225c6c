// Lectrosonics receiver text as a connection delivers it: the input is cut into chunks at every
// 0xFE byte, joined into lines and each line handled into a registry in memory, with the
// polls run between chunks.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "MonitorApp/serverrole/LectrosonicsHandler.h"
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
    static LectrosonicsHandler handler;
    handler.setRegistry(&registry);
    lectrosonics::LineAssembler lines;
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0xFE) continue;
        lines.feed(std::string_view(text + start, i - start), [&](const std::string& line) {
            handler.processLine(line, "127.0.0.9", nullptr);
        });
        handler.askRf();
        handler.askBatteryData();
        handler.askNextCommand();
        start = i + 1;
    }
    if (handler.pendingCount() > LectrosonicsHandler::kMaxPending) __builtin_trap();
    for (const auto& entry : registry.devices()) {
        const WirelessDevice& d = *entry.second;
        if (d.rf() > 100) __builtin_trap();
        if (d.batteryMaxVoltage() != 0 && d.batteryMaxVoltage() != 15 &&
            d.batteryMaxVoltage() != 90) {
            __builtin_trap();
        }
    }
    if (registry.devices().size() > 64) registry.devices().clear();
    return 0;
}
