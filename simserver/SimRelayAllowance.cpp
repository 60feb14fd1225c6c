#include "simserver/SimRelayAllowance.h"

#include <algorithm>

namespace quenbril {

bool SimRelayAllowance::take(size_t bytes, double now) {
    if (now > lastTake_) {
        double elapsed = now - lastTake_;
        messages_ = std::min(kBurstMessages, messages_ + elapsed * kMessagesPerSecond);
        bytes_ = std::min(kBurstBytes, bytes_ + elapsed * kBytesPerSecond);
        lastTake_ = now;
    }
    auto size = static_cast<double>(bytes);
    if (messages_ < 1 || bytes_ < size) {
        ++refused_;
        return false;
    }
    messages_ -= 1;
    bytes_ -= size;
    return true;
}

}  // namespace quenbril
