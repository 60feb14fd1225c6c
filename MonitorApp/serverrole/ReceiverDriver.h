#pragma once

namespace quenbril {

class WirelessManager;

/// A driver for one family of networked receivers. The registry calls it once per discovery
/// pass; it contacts its receivers from the registry's receiver list and keeps their records.
/// Every function is optional: a driver that is not built yet does nothing.
class ReceiverDriver {
  public:
    virtual ~ReceiverDriver() = default;
    /// Contacts (or keeps in contact with) the driver's receivers.
    virtual void connectTo(WirelessManager& /*registry*/) {}
    /// The Sony driver's name for the same step.
    virtual void updateDevices(WirelessManager& /*registry*/) {}
};

}  // namespace quenbril
