#include "foundation/DescriptorWatch.h"

namespace quenbril {

DescriptorWatch& DescriptorWatch::operator=(DescriptorWatch&& other) noexcept {
    if (this != &other) {
        cancel();
        token_ = std::move(other.token_);
    }
    return *this;
}

DescriptorWatch::~DescriptorWatch() { cancel(); }

void DescriptorWatch::cancel() {
    if (token_) token_->cancel();
}

bool DescriptorWatch::isActive() const { return token_ && !token_->isCancelled(); }

}  // namespace quenbril
