#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace quenbril {

/// Keeps `kept` alive until the process ends, never destroying it: for what a thread we cannot
/// stop may still read (a dead JACK server's client thread finishing its cycle). Held where the
/// leak checker sees it reachable.
template <class T>
void keepToProcessEnd(std::unique_ptr<T> kept) {
    // Never destroyed either: static destruction must not free what such a thread reads.
    static auto* lock = new std::mutex;
    static auto* all = new std::vector<std::unique_ptr<T>>;
    std::lock_guard held(*lock);
    all->push_back(std::move(kept));
}

}  // namespace quenbril
