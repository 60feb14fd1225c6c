#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "MonitorApp/link/LinkRecords.h"

namespace quenbril {

/// What a "ChannelWarnings" message does, decided from its strip id / code pairs: whether the
/// array goes to the strip manager (once, however many codes are shown) and what the reset
/// alarm becomes.
struct WarningsPass {
    /// Hand the whole array to the manager's warning update.
    bool apply = false;
    /// The reset alarm's new state; none leaves it as it is.
    std::optional<bool> resetAlarm;

    /// `ignored` answers whether the user hides a warning code (1 SCP, 2 battery, 3 RF).
    /// An absent or empty array changes nothing; one without a whole pair (a lone strip id)
    /// only switches the alarm off. Otherwise the array applies when some code is shown, and
    /// the alarm is on when a shown code is an SCP.
    static WarningsPass evaluate(const FlatPairs<int32_t>& pairs,
                                 const std::function<bool(int32_t)>& ignored);
};

}  // namespace quenbril
