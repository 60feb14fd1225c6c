#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/midi/MidiCommand.h"

namespace quenbril {

/// The hand-over from MIDI callback threads to the main loop: a fixed lock-free queue of 1024
/// entries and an eventfd that wakes the loop. push() never locks, allocates or blocks, so a
/// real-time thread may call it; when the queue is full the message is counted as dropped.
/// Any number of threads may push; one thread (the main one) pops.
class MidiEventQueue {
  public:
    static constexpr size_t kCapacity = 1024;

    struct Entry {
        uint32_t source = 0;
        MidiCommand command;
    };

    MidiEventQueue();
    ~MidiEventQueue();
    MidiEventQueue(const MidiEventQueue&) = delete;
    MidiEventQueue& operator=(const MidiEventQueue&) = delete;

    /// Any thread. False (and counted) when the queue is full.
    bool push(const Entry& entry);
    /// The consumer thread.
    std::optional<Entry> pop();

    /// Readable while entries may be waiting; the consumer calls clearWakeUp() before draining.
    int wakeDescriptor() const { return eventFd_; }
    void clearWakeUp();

    /// Messages dropped because the queue was full, since the queue was made.
    uint64_t droppedCount() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    struct Cell {
        std::atomic<size_t> sequence;
        Entry entry;
    };

    std::array<Cell, kCapacity> cells_;
    alignas(64) std::atomic<size_t> enqueuePosition_{0};
    alignas(64) std::atomic<size_t> dequeuePosition_{0};
    std::atomic<uint64_t> dropped_{0};
    int eventFd_ = -1;
};

}  // namespace quenbril
