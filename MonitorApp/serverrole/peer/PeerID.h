#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// A station's identity on the peer link: the display name it was set up with and a number
/// drawn at random when it was made, which tells apart stations of one name. Notifications carry
/// it as an object value under "peerID".
class PeerID : public Object {
  public:
    PeerID(std::string displayName, uint64_t identifier)
        : displayName_(std::move(displayName)), identifier_(identifier) {}
    /// A new identity with a random number.
    static std::shared_ptr<const PeerID> make(std::string displayName);

    const std::string& displayName() const { return displayName_; }
    uint64_t identifier() const { return identifier_; }
    std::string className() const override { return "MCPeerID"; }
    bool isEqual(const Object& other) const override {
        const auto* peer = dynamic_cast<const PeerID*>(&other);
        return peer && peer->identifier_ == identifier_ && peer->displayName_ == displayName_;
    }

  private:
    std::string displayName_;
    uint64_t identifier_;
};

using PeerIDPtr = std::shared_ptr<const PeerID>;

}  // namespace quenbril
