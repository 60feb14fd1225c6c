#pragma once

// Counts the heap allocations a thread makes while it says so, through a replaced global
// operator new. Include it in exactly one file of a benchmark program.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace quenbril::bench {

/// Set on a thread around the code whose allocations count.
inline thread_local bool countingAllocations = false;
inline std::atomic<uint64_t> allocations{0};

}  // namespace quenbril::bench

void* operator new(std::size_t size) {
    if (quenbril::bench::countingAllocations)
        quenbril::bench::allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
