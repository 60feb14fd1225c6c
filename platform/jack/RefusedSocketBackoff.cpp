#include "platform/jack/RefusedSocketBackoff.h"

#include <algorithm>

namespace quenbril {

bool RefusedSocketBackoff::worthTrying(const SocketIdentity& socket, Clock::time_point now) const {
    return !(socket_ == socket && now < retryAt_);
}

bool RefusedSocketBackoff::mayBeStarting(const SocketIdentity& socket) const {
    return socket_ == socket && wait_ < kLongestWait;
}

void RefusedSocketBackoff::refused(const SocketIdentity& socket, Clock::time_point now) {
    if (socket_ != socket) {
        socket_ = socket;
        firstRefusal_ = now;
        wait_ = {};
    }
    if (now - firstRefusal_ < kStartingFor) {
        retryAt_ = now + kStartingWait;
        return;
    }
    wait_ = wait_ == Clock::duration{} ? kFirstWait : std::min(wait_ * 2, kLongestWait);
    retryAt_ = now + wait_;
}

void RefusedSocketBackoff::forget() { socket_.reset(); }

}  // namespace quenbril
