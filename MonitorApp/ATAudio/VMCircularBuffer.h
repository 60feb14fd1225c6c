#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

namespace quenbril {

/// A byte ring whose storage is mapped twice in a row, so any run of up to `length` bytes that
/// starts inside the first copy is contiguous: writes and reads never split at the end. One
/// writer and one reader may run on different threads; `head` belongs to the writer, `tail` to
/// the reader, and only `fillCount` is shared.
struct VMCircularBuffer {
    /// The first of the two copies; the second starts at `buffer + length`.
    uint8_t* buffer = nullptr;
    /// A whole number of pages.
    int32_t length = 0;
    int32_t tail = 0;
    int32_t head = 0;
    std::atomic<int32_t> fillCount{0};
};

/// Makes the ring for at least `length` bytes (rounded up to whole pages). Prints the failing step
/// and returns false when the memory cannot be had.
bool VMCircularBufferInit(VMCircularBuffer* ring, int32_t length);
/// Releases the storage and zeroes the record.
void VMCircularBufferCleanup(VMCircularBuffer* ring);
/// Reader's side: drops every byte held.
void VMCircularBufferClear(VMCircularBuffer* ring);

/// Writer: where the next bytes go, and how many fit.
inline uint8_t* VMCircularBufferHead(VMCircularBuffer* ring, int32_t* space) {
    *space = ring->length - ring->fillCount.load(std::memory_order_acquire);
    return ring->buffer + ring->head;
}

/// Writer: publishes `n` bytes written at the head.
inline void VMCircularBufferProduce(VMCircularBuffer* ring, int32_t n) {
    ring->head = (ring->head + n) % ring->length;
    ring->fillCount.fetch_add(n, std::memory_order_acq_rel);
}

/// Writer: copies `n` bytes in when they all fit; otherwise writes nothing and returns false.
inline bool VMCircularBufferProduceBytes(VMCircularBuffer* ring, const void* source, int32_t n) {
    int32_t space = 0;
    uint8_t* head = VMCircularBufferHead(ring, &space);
    if (n < 0 || space < n) return false;
    if (n > 0) std::memcpy(head, source, static_cast<size_t>(n));
    VMCircularBufferProduce(ring, n);
    return true;
}

/// Reader: where the oldest bytes are, and how many are held.
inline uint8_t* VMCircularBufferTail(VMCircularBuffer* ring, int32_t* available) {
    *available = ring->fillCount.load(std::memory_order_acquire);
    return ring->buffer + ring->tail;
}

/// Reader: releases the `n` oldest bytes.
inline void VMCircularBufferConsume(VMCircularBuffer* ring, int32_t n) {
    ring->tail = (ring->tail + n) % ring->length;
    ring->fillCount.fetch_sub(n, std::memory_order_acq_rel);
}

}  // namespace quenbril
