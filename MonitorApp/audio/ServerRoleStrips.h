#pragma once

#include <cstdint>

namespace quenbril {

class ChannelStripModel;
class ChannelStripState;

/// The channel strips as the server role's engine reads them: strip i is capture channel i, in
/// the channel-strip manager's order. Main thread only; the engine copies what its audio threads
/// need into snapshots.
class ServerRoleStrips {
  public:
    virtual ~ServerRoleStrips() = default;
    virtual int stripCount() const = 0;
    virtual const ChannelStripModel& stripModel(int index) const = 0;
    virtual ChannelStripState& stripState(int index) = 0;
    /// The level bytes of a level send, one per strip (128 entries).
    virtual void updateLevels(const uint8_t* levels) = 0;
};

}  // namespace quenbril
