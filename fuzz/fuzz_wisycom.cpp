// Wisycom bytes as a connection delivers them: frame assembly, un-escaping, validation and
// status decoding into a registry in memory. The first byte sets the chunk size; the codec's
// functions also run on the whole input as one frame.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MonitorApp/serverrole/MrkCodec.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/serverrole/WisycomHandler.h"
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
    static WisycomHandler handler;
    if (size == 0) return 0;
    handler.setRegistry(&registry);
    // A connection that has come up: its helper exists.
    handler.resetHelper("127.0.0.9");
    const size_t chunk = data[0] % 64 + 1;
    for (size_t at = 1; at < size; at += chunk) {
        handler.receive(data + at, std::min(chunk, size - at), "127.0.0.9", nullptr);
    }
    std::vector<uint8_t> plain(size);
    const int n = mrk_unescape(data, plain.data(), size);
    if (n > static_cast<int>(size)) __builtin_trap();
    mrk_frame_info info;
    if (n >= 0) {
        mrk_parse_frame(plain.data(), static_cast<size_t>(n), &info);
        if (info.name[12] != 0) __builtin_trap();
        if (n >= 13) {
            mrk_status status;
            mrk_summary summary;
            mrk_decode_status(plain.data(), &status, &summary);
            if (summary.battery > 100 || summary.rfAPercent > 100) __builtin_trap();
        }
    }
    std::vector<uint8_t> escaped(size * 2);
    if (mrk_escape(data, escaped.data(), size) > size * 2) __builtin_trap();
    if (registry.devices().size() > 300) registry.devices().clear();
    return 0;
}
