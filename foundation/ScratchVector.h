#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace quenbril {

/// A vector borrowed from a spare kept per thread and handed back, emptied but with its
/// capacity, when the borrower is done. Hot decoders use it for their per-call tables so that
/// each call does not ask the allocator for a large block, which makes glibc consolidate every
/// small chunk freed since. A nested borrower on the same thread finds the spare taken and
/// starts with a fresh vector. `Tag` keeps the spares of different users apart; spares beyond
/// `kKeptCapacity` elements are not kept.
template <class T, class Tag>
class ScratchVector {
  public:
    static constexpr size_t kKeptCapacity = 1 << 16;

    ScratchVector() { items.swap(spare()); }
    ~ScratchVector() {
        items.clear();
        std::vector<T>& kept = spare();
        if (items.capacity() <= kKeptCapacity && items.capacity() > kept.capacity()) {
            items.swap(kept);
        }
    }
    ScratchVector(const ScratchVector&) = delete;
    ScratchVector& operator=(const ScratchVector&) = delete;

    std::vector<T> items;

  private:
    static std::vector<T>& spare() {
        thread_local std::vector<T> kept;
        return kept;
    }
};

}  // namespace quenbril
