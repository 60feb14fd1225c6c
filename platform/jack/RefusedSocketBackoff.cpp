#include "platform/jack/RefusedSocketBackoff.h"

#include <algorithm>

namespace quenbril {

bool RefusedSocketBackoff::worthTrying(const SocketIdentity& socket, Clock::time_point now) const {
    return !(socket_ == socket && now < retryAt_);
}

void RefusedSocketBackoff::refused(const SocketIdentity& socket, Clock::time_point now) {
    wait_ = socket_ == socket ? std::min(wait_ * 2, kLongestWait) : kFirstWait;
    socket_ = socket;
    retryAt_ = now + wait_;
}

void RefusedSocketBackoff::forget() { socket_.reset(); }

}  // namespace quenbril
