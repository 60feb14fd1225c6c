#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace quenbril {

struct NotificationObserver::Entry {
    std::string name;
    NotificationCenter::Callback callback;
    // Both guarded by State::mutex.
    bool removed = false;
    // The threads inside this observer's callback right now; a thread appears once per
    // nested call.
    std::vector<std::thread::id> callers;
};

struct NotificationObserver::State {
    std::mutex mutex;
    std::condition_variable callEnded;
    // Per name, the observers in the order they were added.
    std::unordered_map<std::string, std::vector<std::shared_ptr<Entry>>> observers;

    void remove(const std::shared_ptr<Entry>& entry) {
        std::unique_lock lock(mutex);
        if (entry->removed) return;
        entry->removed = true;
        if (auto it = observers.find(entry->name); it != observers.end()) {
            std::erase(it->second, entry);
            if (it->second.empty()) observers.erase(it);
        }
        // Wait for calls on other threads to finish; calls this thread is nested in cannot
        // finish before we return, and need not.
        const std::thread::id self = std::this_thread::get_id();
        callEnded.wait(lock, [&] {
            return std::all_of(entry->callers.begin(), entry->callers.end(),
                               [&](std::thread::id caller) { return caller == self; });
        });
    }
};

NotificationObserver& NotificationObserver::operator=(NotificationObserver&& other) noexcept {
    if (this != &other) {
        reset();
        center_ = std::move(other.center_);
        entry_ = std::move(other.entry_);
    }
    return *this;
}

void NotificationObserver::reset() {
    if (!entry_) return;
    if (std::shared_ptr<State> center = center_.lock()) center->remove(entry_);
    entry_.reset();
    center_.reset();
}

NotificationCenter::NotificationCenter()
    : state_(std::make_shared<NotificationObserver::State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationObserver NotificationCenter::addObserver(std::string name, Callback callback) {
    if (!callback) return {};
    auto entry = std::make_shared<NotificationObserver::Entry>();
    entry->name = std::move(name);
    entry->callback = std::move(callback);
    {
        std::lock_guard lock(state_->mutex);
        state_->observers[entry->name].push_back(entry);
    }
    return NotificationObserver(state_, std::move(entry));
}

void NotificationCenter::post(const std::string& name, const Dictionary& userInfo) {
    using Entry = NotificationObserver::Entry;
    // Held for the whole post, in case a callback destroys the centre.
    const std::shared_ptr<NotificationObserver::State> keep = state_;
    NotificationObserver::State& state = *keep;
    // The observers of this post are those registered now; the copy keeps each callback alive
    // even when its observer is removed while it runs.
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(state.mutex);
        auto it = state.observers.find(name);
        if (it == state.observers.end()) return;
        targets = it->second;
    }
    const Notification notification{name, userInfo};
    const std::thread::id self = std::this_thread::get_id();
    for (const std::shared_ptr<Entry>& entry : targets) {
        {
            std::lock_guard lock(state.mutex);
            if (entry->removed) continue;
            entry->callers.push_back(self);
        }
        struct Leave {
            NotificationObserver::State& state;
            Entry& entry;
            std::thread::id self;
            ~Leave() {
                std::lock_guard lock(state.mutex);
                entry.callers.erase(std::find(entry.callers.begin(), entry.callers.end(), self));
                if (entry.removed) state.callEnded.notify_all();
            }
        } leave{state, *entry, self};
        entry->callback(notification);
    }
}

}  // namespace quenbril
