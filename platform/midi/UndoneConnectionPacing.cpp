#include "platform/midi/UndoneConnectionPacing.h"

#include <algorithm>

#include "foundation/RunLoop.h"

namespace quenbril {

double UndoneConnectionPacing::undone(const std::string& device) {
    const double now = RunLoop::main().now();
    auto [found, fresh] = rows_.try_emplace(device);
    Row& row = found->second;
    if (row.pending.isValid()) return row.wait;
    if (fresh || now - row.connectedAt >= kHeld) {
        row.wait = 0;
        row.connectedAt = now;
        return 0;
    }
    row.wait = row.wait == 0 ? kFirstWait : std::min(2 * row.wait, kLongestWait);
    row.pending = RunLoop::main().scheduleTimer(row.wait, false, [this, device] {
        if (auto again = rows_.find(device); again != rows_.end()) {
            again->second.connectedAt = RunLoop::main().now();
        }
        reconnect_(device);
    });
    return row.wait;
}

}  // namespace quenbril
