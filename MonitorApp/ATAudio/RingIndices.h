#pragma once

#include <atomic>
#include <cstdint>

namespace quenbril {

/// The two positions of a ring shared by one writer and one reader on different threads, without a
/// lock. Both are 64-bit counts that only grow (they never wrap in practice), so a position names a
/// frame (or block) once and for all; the slot is the count modulo `length`.
///
/// The writer owns `end`. The reader moves `start` when it consumes, and the writer moves it too
/// when it must drop the oldest entries to make room; both move it with a compare-and-swap, so a
/// reader whose copy overlapped such a drop sees its swap fail and knows the copy may be torn.
/// The writer moves `start` before it stores into the slots it frees, and publishes `end` after
/// its stores; the reader loads `end` before `start`, copies, then swaps. Sample stores and loads
/// go through relaxed atomics (see storeSample/loadSample), so a reader that overlaps a drop reads
/// stale or new values, never undefined ones, and throws them away.
class RingIndices {
  public:
    /// `length` slots, of which at most `length` - 1 are held at a time. Must be at least 1.
    explicit RingIndices(int length) : length_(length < 1 ? 1 : length) {}

    RingIndices(const RingIndices&) = delete;
    RingIndices& operator=(const RingIndices&) = delete;

    int length() const { return length_; }

    /// The read slot and the write slot, 0 to `length` - 1 (the classic `bufferStart` and
    /// `bufferEnd`).
    int startSlot() const { return slot(start_.load(std::memory_order_acquire)); }
    int endSlot() const { return slot(end_.load(std::memory_order_acquire)); }

    int slot(uint64_t position) const {
        return static_cast<int>(position % static_cast<uint64_t>(length_));
    }

    /// What the reader sees: `consistent` is false while a writer's drop or reset runs between the
    /// two loads; the caller then tries again.
    struct Snapshot {
        uint64_t start = 0;
        uint64_t end = 0;
        bool consistent = true;
        uint64_t held() const { return consistent ? end - start : 0; }
    };

    Snapshot snapshot() const {
        Snapshot s;
        s.end = end_.load(std::memory_order_acquire);
        s.start = start_.load(std::memory_order_acquire);
        s.consistent = s.start <= s.end;
        return s;
    }

    /// Entries held, 0 to `length` - 1 (0 while the writer resets the ring).
    int held() const { return static_cast<int>(snapshot().held()); }

    /// Reader: moves `start` from `from` to `to`. False when the writer dropped entries meanwhile;
    /// whatever the reader copied from `from` on may then be torn.
    bool advanceStart(uint64_t from, uint64_t to) {
        return start_.compare_exchange_strong(from, to, std::memory_order_acq_rel,
                                              std::memory_order_acquire);
    }

    /// Writer: makes room for `count` more entries, dropping the oldest so that no more than
    /// `length` - 1 are held after them, and returns the position of the first new entry.
    uint64_t beginWrite(uint64_t count) {
        const uint64_t first = end_.load(std::memory_order_relaxed);
        const uint64_t last = first + count;
        const uint64_t cap = static_cast<uint64_t>(length_) - 1;
        const uint64_t need = last > cap ? last - cap : 0;
        uint64_t start = start_.load(std::memory_order_acquire);
        while (start < need && !start_.compare_exchange_weak(start, need, std::memory_order_acq_rel,
                                                             std::memory_order_acquire)) {
        }
        return first;
    }

    /// Writer: publishes the entries stored since beginWrite; `end` is the position after them.
    void endWrite(uint64_t end) { end_.store(end, std::memory_order_release); }

    /// Writer: empties the ring. Both positions move to the next multiple of `length`, so both
    /// slots read 0 afterwards. `clearSlots` runs between taking `start` away from the reader and
    /// publishing the new `end`.
    template <typename Clear>
    void reset(Clear&& clearSlots) {
        const uint64_t end = end_.load(std::memory_order_relaxed);
        const uint64_t len = static_cast<uint64_t>(length_);
        const uint64_t base = (end + len - 1) / len * len;
        // Taking `start` first makes a reader that is copying fail its swap.
        start_.exchange(base, std::memory_order_acq_rel);
        clearSlots();
        end_.store(base, std::memory_order_release);
    }

  private:
    const int length_;
    std::atomic<uint64_t> start_{0};
    std::atomic<uint64_t> end_{0};
};

/// Sample access for memory that a writer and a reader on other threads may touch at once.
inline void storeSample(float* at, float value) {
    std::atomic_ref<float>(*at).store(value, std::memory_order_relaxed);
}
inline float loadSample(const float* at) {
    return std::atomic_ref<float>(*const_cast<float*>(at)).load(std::memory_order_relaxed);
}

/// Copies `count` frames of each of `channels` channels from slot `from` of a ring of `length`
/// slots, wrapping. Null destinations are skipped.
inline void copyFromRing(const float* const* ring, int channels, int from, int length, int count,
                         float* const* destination) {
    if (!destination) return;
    for (int ch = 0; ch < channels; ++ch) {
        float* out = destination[ch];
        if (!out) continue;
        const float* row = ring[ch];
        int index = from;
        for (int i = 0; i < count; ++i) {
            out[i] = loadSample(row + index);
            if (++index == length) index = 0;
        }
    }
}

/// Stores `count` frames of each of `channels` channels at slot `to` of a ring of `length` slots,
/// wrapping. When `count` exceeds `length` only the last `length` frames land, where a frame-by-
/// frame write would have left them. Null sources are skipped.
inline void copyIntoRing(const float* const* source, int channels, int to, int length, int count,
                         float* const* ring) {
    const int skip = count > length ? count - length : 0;
    const int first = static_cast<int>((static_cast<int64_t>(to) + skip) % length);
    for (int ch = 0; ch < channels; ++ch) {
        const float* in = source[ch];
        if (!in) continue;
        float* row = ring[ch];
        int index = first;
        for (int i = skip; i < count; ++i) {
            storeSample(row + index, in[i]);
            if (++index == length) index = 0;
        }
    }
}

/// Zeroes `count` frames of each of `channels` destinations (null ones skipped).
inline void zeroFrames(float* const* destination, int channels, int count) {
    if (!destination) return;
    for (int ch = 0; ch < channels; ++ch) {
        if (!destination[ch]) continue;
        for (int i = 0; i < count; ++i) destination[ch][i] = 0.0f;
    }
}

}  // namespace quenbril
