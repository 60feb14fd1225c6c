#include "foundation/Timer.h"

namespace quenbril {

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        invalidate();
        token_ = std::move(other.token_);
    }
    return *this;
}

Timer::~Timer() { invalidate(); }

void Timer::invalidate() {
    if (token_) token_->cancel();
}

bool Timer::isValid() const { return token_ && !token_->isCancelled(); }

}  // namespace quenbril
