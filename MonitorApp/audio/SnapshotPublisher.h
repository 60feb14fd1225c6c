#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace quenbril {

/// Hands immutable snapshots from the main thread to a fixed number of audio threads without a
/// lock. The main thread publishes a new snapshot by swapping one pointer; each reader marks the
/// snapshot it is using in a slot of its own, and a replaced snapshot is freed on the main
/// thread once no reader's slot holds it. A reader never waits, allocates or frees.
template <typename T, int Readers>
class SnapshotPublisher {
  public:
    /// A reader's hold on the current snapshot (null when none was published yet); it lasts
    /// until the guard goes out of scope.
    class Guard {
      public:
        Guard(std::atomic<const T*>& slot, const T* snapshot) : slot_(&slot), snapshot_(snapshot) {}
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        ~Guard() { slot_->store(nullptr, std::memory_order_release); }
        const T* get() const { return snapshot_; }
        const T* operator->() const { return snapshot_; }

      private:
        std::atomic<const T*>* slot_;
        const T* snapshot_;
    };

    SnapshotPublisher() = default;
    SnapshotPublisher(const SnapshotPublisher&) = delete;
    SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;
    /// Readers must be gone.
    ~SnapshotPublisher() { delete current_.load(); }

    /// Reader `reader` (0 to Readers - 1, one thread each): the snapshot in force now.
    Guard read(int reader) {
        std::atomic<const T*>& slot = hazards_[static_cast<size_t>(reader)];
        const T* snapshot = current_.load();
        // Mark, then check that it is still the current one: a publish between the two may
        // already have looked at this slot and found it empty.
        for (;;) {
            slot.store(snapshot);
            const T* again = current_.load();
            if (again == snapshot) break;
            snapshot = again;
        }
        return Guard(slot, snapshot);
    }

    /// Main thread: the snapshot in force.
    const T* current() const { return current_.load(std::memory_order_relaxed); }

    /// Main thread: puts `next` in force and frees the replaced snapshots no reader holds.
    void publish(std::unique_ptr<const T> next) {
        const T* old = current_.exchange(next.release());
        if (old) retired_.emplace_back(old);
        collect();
    }

    /// Main thread: frees the replaced snapshots no reader holds any more.
    void collect() {
        std::erase_if(retired_, [this](const std::unique_ptr<const T>& snapshot) {
            return std::none_of(hazards_.begin(), hazards_.end(),
                                [&](const auto& slot) { return slot.load() == snapshot.get(); });
        });
    }

    /// Main thread: waits until every replaced snapshot is freed, so what they point to may go.
    /// A reader holds a snapshot for one audio callback at most.
    void drain() {
        for (collect(); !retired_.empty(); collect()) std::this_thread::yield();
    }

    /// Replaced snapshots not freed yet.
    size_t retiredCount() const { return retired_.size(); }

  private:
    std::atomic<const T*> current_{nullptr};
    std::array<std::atomic<const T*>, Readers> hazards_{};
    std::vector<std::unique_ptr<const T>> retired_;
};

}  // namespace quenbril
