#pragma once

#include <memory>

#include "foundation/CancelToken.h"

namespace quenbril {

/// Move-only handle of a descriptor watched by a run loop; destroying it or cancel() stops the
/// watching (the descriptor itself stays open: its owner closes it after cancelling).
class DescriptorWatch {
  public:
    DescriptorWatch() = default;
    explicit DescriptorWatch(std::shared_ptr<CancelToken> token) : token_(std::move(token)) {}
    DescriptorWatch(DescriptorWatch&& other) noexcept = default;
    DescriptorWatch& operator=(DescriptorWatch&& other) noexcept;
    DescriptorWatch(const DescriptorWatch&) = delete;
    DescriptorWatch& operator=(const DescriptorWatch&) = delete;
    ~DescriptorWatch();

    void cancel();
    bool isActive() const;

  private:
    std::shared_ptr<CancelToken> token_;
};

}  // namespace quenbril
