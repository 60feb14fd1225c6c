#include "platform/midi/MidiEventQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace quenbril {

MidiEventQueue::MidiEventQueue() {
    for (size_t i = 0; i < kCapacity; ++i) {
        cells_[i].sequence.store(i, std::memory_order_relaxed);
    }
    eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

MidiEventQueue::~MidiEventQueue() {
    if (eventFd_ >= 0) {
        ::close(eventFd_);
    }
}

// A bounded queue whose cells carry sequence numbers: a producer claims a position with a
// compare-and-swap and publishes the cell by advancing its sequence, so neither side waits.
bool MidiEventQueue::push(const Entry& entry) {
    size_t position = enqueuePosition_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[position % kCapacity];
        const size_t sequence = cell.sequence.load(std::memory_order_acquire);
        const auto difference = static_cast<intptr_t>(sequence) - static_cast<intptr_t>(position);
        if (difference == 0) {
            if (enqueuePosition_.compare_exchange_weak(position, position + 1,
                                                       std::memory_order_relaxed)) {
                cell.entry = entry;
                cell.sequence.store(position + 1, std::memory_order_release);
                break;
            }
        } else if (difference < 0) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        } else {
            position = enqueuePosition_.load(std::memory_order_relaxed);
        }
    }
    const uint64_t one = 1;
    // The counter saturating only means the loop is already awake.
    [[maybe_unused]] ssize_t written = ::write(eventFd_, &one, sizeof one);
    return true;
}

std::optional<MidiEventQueue::Entry> MidiEventQueue::pop() {
    const size_t position = dequeuePosition_.load(std::memory_order_relaxed);
    Cell& cell = cells_[position % kCapacity];
    const size_t sequence = cell.sequence.load(std::memory_order_acquire);
    if (sequence != position + 1) {
        return std::nullopt;
    }
    dequeuePosition_.store(position + 1, std::memory_order_relaxed);
    Entry entry = cell.entry;
    cell.sequence.store(position + kCapacity, std::memory_order_release);
    return entry;
}

void MidiEventQueue::clearWakeUp() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t readBytes = ::read(eventFd_, &count, sizeof count);
}

}  // namespace quenbril
