#include "platform/midi/UndoneConnectionPacing.h"

#include <algorithm>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

bool UndoneConnectionPacing::undone(const std::string& device) {
    const double now = RunLoop::main().now();
    auto [found, fresh] = rows_.try_emplace(device);
    Row& row = found->second;
    if (row.pending.isValid()) return false;
    if (fresh || now - row.connectedAt >= kHeld) {
        row.wait = 0;
        row.connectedAt = now;
        return true;
    }
    if (row.wait == 0) {
        // The one line of the row: the connections made again after it say nothing.
        QLOG(
            "MIDI: another program keeps undoing the connection to %s; it is made again after "
            "waits growing to %.0f s",
            device.c_str(), kLongestWait);
    }
    row.wait = row.wait == 0 ? kFirstWait : std::min(2 * row.wait, kLongestWait);
    row.pending = RunLoop::main().scheduleTimer(row.wait, false, [this, device] {
        if (auto again = rows_.find(device); again != rows_.end()) {
            again->second.connectedAt = RunLoop::main().now();
        }
        reconnect_(device);
    });
    return false;
}

}  // namespace quenbril
