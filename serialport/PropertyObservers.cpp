#include "serialport/PropertyObservers.h"

#include <vector>

namespace quenbril {

int PropertyObservers::add(Callback callback) {
    std::lock_guard lock(mutex_);
    int id = nextId_++;
    callbacks_.emplace(id, std::move(callback));
    return id;
}

void PropertyObservers::remove(int id) {
    std::lock_guard lock(mutex_);
    callbacks_.erase(id);
}

void PropertyObservers::notify(const std::string& property) {
    std::vector<Callback> callbacks;
    {
        // Copied, so that an observer may add or remove observers while it is told.
        std::lock_guard lock(mutex_);
        for (const auto& [id, callback] : callbacks_) callbacks.push_back(callback);
    }
    for (const Callback& callback : callbacks) callback(property);
}

}  // namespace quenbril
