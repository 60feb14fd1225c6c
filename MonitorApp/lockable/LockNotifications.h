#pragma once

namespace quenbril {

/// The notification of the lock on the default centre: posted by the main window's lock with
/// the user info {kLockOnKey: true to lock, false to unlock}.
struct LockNotification {
    static constexpr const char* kLocked = "QuenbrilLocked";
    static constexpr const char* kLockOnKey = "lockOn";
};

}  // namespace quenbril
