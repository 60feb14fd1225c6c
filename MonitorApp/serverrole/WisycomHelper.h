#pragma once

#include <cstdint>
#include <set>
#include <vector>

namespace quenbril {

/// One Wisycom connection's state: the receiver network's channel addresses, those still to
/// be named, the channels named, the status poll's position and the frame being assembled.
class WisycomHelper {
  public:
    static constexpr size_t kMaxBufLen = 4096;

    std::vector<int> allAddresses;
    std::vector<int> addresses;
    /// Channels this connection has named (a record made or taken over).
    std::set<int> named;
    int32_t deviceIndex = 0;
    std::vector<uint8_t> rcvBuffer = std::vector<uint8_t>(kMaxBufLen);
    size_t rcvBufPos = 0;
    /// "no devices" was logged and still holds.
    bool reportedNoDevices = false;

    int32_t devicesFound() const { return static_cast<int32_t>(named.size()); }
    /// Every channel address has been named: status polling may run.
    bool namingDone() const { return !named.empty() && named.size() == allAddresses.size(); }
};

}  // namespace quenbril
