#include "MonitorApp/dispatch/WarningsPass.h"

namespace quenbril {

WarningsPass WarningsPass::evaluate(const FlatPairs<int32_t>& pairs,
                                    const std::function<bool(int32_t)>& ignored) {
    WarningsPass pass;
    if (pairs.elementCount == 0) return pass;
    bool alarm = false;
    for (const auto& [csID, code] : pairs.pairs) {
        (void)csID;
        if (ignored(code)) continue;
        pass.apply = true;
        if (code == 1) alarm = true;
    }
    pass.resetAlarm = alarm;
    return pass;
}

}  // namespace quenbril
