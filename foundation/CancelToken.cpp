#include "foundation/CancelToken.h"

namespace quenbril {

void CancelToken::cancel() {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
        hook = std::move(onCancel_);
        onCancel_ = nullptr;
    }
    if (hook) hook();
}

void CancelToken::setOnCancel(std::function<void()> hook) {
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_.load(std::memory_order_acquire)) {
            onCancel_ = std::move(hook);
            return;
        }
    }
    if (hook) hook();
}

void CancelToken::clearOnCancel() {
    std::lock_guard lock(mutex_);
    onCancel_ = nullptr;
}

}  // namespace quenbril
