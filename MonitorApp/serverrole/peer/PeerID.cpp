#include "MonitorApp/serverrole/peer/PeerID.h"

#include <random>

namespace quenbril {

std::shared_ptr<const PeerID> PeerID::make(std::string displayName) {
    static thread_local std::mt19937_64 numbers{std::random_device{}()};
    return std::make_shared<const PeerID>(std::move(displayName), numbers());
}

}  // namespace quenbril
