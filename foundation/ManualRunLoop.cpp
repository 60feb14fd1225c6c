#include "foundation/ManualRunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "foundation/BuildTimeScale.h"
#include "foundation/Log.h"

namespace quenbril {

struct ManualRunLoop::TimerEntry {
    double fireTime = 0;
    uint64_t id = 0;
    double interval = 0;
    bool repeats = false;
    std::function<void()> fire;
    std::shared_ptr<CancelToken> token;
};

struct ManualRunLoop::WatchEntry {
    int fd = -1;
    Condition condition = Condition::Readable;
    std::function<void()> ready;
    std::shared_ptr<CancelToken> token;
};

ManualRunLoop::ManualRunLoop(double startTime) : now_(startTime) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ < 0 || wake_ < 0) {
        log(LogLevel::Error, "ManualRunLoop: cannot make its epoll or event descriptor (errno %d)",
            errno);
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wake_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
}

ManualRunLoop::~ManualRunLoop() {
    resignMain();
    // What the loop still holds may post or schedule again as it is released: repeat until
    // nothing is left, and close the descriptors only then.
    for (;;) {
        std::map<uint64_t, std::shared_ptr<TimerEntry>> timers;
        std::map<uint64_t, std::shared_ptr<WatchEntry>> watches;
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            timers.swap(timers_);
            watches.swap(watches_);
            tasks.swap(tasks_);
        }
        if (timers.empty() && watches.empty() && tasks.empty()) break;
        // The handles may outlive the loop: their hooks must not reach it any more.
        for (auto& [id, entry] : timers) entry->token->clearOnCancel();
        for (auto& [id, entry] : watches) entry->token->clearOnCancel();
    }
    if (epoll_ >= 0) close(epoll_);
    if (wake_ >= 0) close(wake_);
}

std::shared_ptr<void> ManualRunLoop::restart(double startTime) {
    struct Taken {
        std::map<uint64_t, std::shared_ptr<TimerEntry>> timers;
        std::map<uint64_t, std::shared_ptr<WatchEntry>> watches;
        std::deque<std::function<void()>> tasks;
    };
    auto taken = std::make_shared<Taken>();
    std::lock_guard lock(mutex_);
    taken->timers.swap(timers_);
    taken->watches.swap(watches_);
    taken->tasks.swap(tasks_);
    // The loop stays: the handles' hooks may still reach it, and find nothing. Identifiers go on
    // counting, so a stale handle cannot cancel a later timer or watch.
    for (auto& [id, entry] : taken->watches) updateInterest(entry->fd);
    now_ = startTime;
    return taken;
}

void ManualRunLoop::post(std::function<void()> task) {
    // A task posted by the loop's own pass is run by that pass (runPending takes tasks until the
    // queue is empty): it needs no wake-up.
    const bool fromPass = isCurrentThread() && running_.load(std::memory_order_relaxed);
    bool wake;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        // One wake-up until the loop reads it: the pass that follows the read runs every task
        // queued by then.
        wake = !fromPass && !wakePending_;
        if (wake) wakePending_ = true;
    }
    uint64_t one = 1;
    if (wake && wake_ >= 0) {
        [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
    }
}

double ManualRunLoop::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

Timer ManualRunLoop::scheduleTimer(double interval, bool repeats, std::function<void()> fire) {
    auto entry = std::make_shared<TimerEntry>();
    entry->token = std::make_shared<CancelToken>();
    entry->repeats = repeats;
    entry->interval = timerInterval(interval, repeats);
    entry->fire = std::move(fire);
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = ++nextSequence_;
        entry->id = id;
        entry->fireTime = now_ + entry->interval;
        timers_.emplace(id, entry);
    }
    entry->token->setOnCancel([this, id] {
        std::shared_ptr<TimerEntry> removed;
        {
            std::lock_guard lock(mutex_);
            auto it = timers_.find(id);
            if (it == timers_.end()) return;
            removed = std::move(it->second);
            timers_.erase(it);
        }
        // `removed` (and whatever its callback holds) is released here, outside the lock.
    });
    return Timer(entry->token);
}

DescriptorWatch ManualRunLoop::watchDescriptor(int fd, Condition condition,
                                               std::function<void()> ready) {
    auto entry = std::make_shared<WatchEntry>();
    entry->fd = fd;
    entry->condition = condition;
    entry->ready = std::move(ready);
    entry->token = std::make_shared<CancelToken>();
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextWatchId_++;
        watches_.emplace(id, entry);
        updateInterest(fd);
    }
    entry->token->setOnCancel([this, id] {
        std::shared_ptr<WatchEntry> removed;
        std::lock_guard lock(mutex_);
        auto it = watches_.find(id);
        if (it == watches_.end()) return;
        removed = std::move(it->second);
        watches_.erase(it);
        updateInterest(removed->fd);
        // The callback is released after the lock (declared before it).
    });
    return DescriptorWatch(entry->token);
}

void ManualRunLoop::updateInterest(int fd) {
    uint32_t mask = 0;
    for (auto& [id, entry] : watches_) {
        if (entry->fd != fd) continue;
        mask |= entry->condition == Condition::Readable ? EPOLLIN : EPOLLOUT;
    }
    epoll_event ev{};
    ev.events = mask;
    ev.data.fd = fd;
    if (mask == 0) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    } else if (epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) < 0 && errno == ENOENT) {
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) < 0) {
            log(LogLevel::Error, "ManualRunLoop: cannot watch descriptor %d (errno %d)", fd, errno);
        }
    }
}

void ManualRunLoop::bindToCurrentThread() { setThread(std::this_thread::get_id()); }

bool ManualRunLoop::runOneTask() {
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return false;
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    task();
    return true;
}

bool ManualRunLoop::fireOneDueTimer(double limit) {
    std::shared_ptr<TimerEntry> entry;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, candidate] : timers_) {
            if (candidate->fireTime > limit) continue;
            if (!entry || candidate->fireTime < entry->fireTime) entry = candidate;
        }
        if (!entry) return false;
        now_ = std::max(now_, entry->fireTime);
        if (entry->repeats) {
            entry->fireTime += entry->interval;
        } else {
            timers_.erase(entry->id);
        }
    }
    if (!entry->token->isCancelled()) entry->fire();
    if (!entry->repeats) entry->token->cancel();
    return true;
}

void ManualRunLoop::pollDescriptors(int timeoutMs) {
    epoll_event events[32];
    int n = epoll_wait(epoll_, events, 32, timeoutMs);
    for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        uint32_t got = events[i].events;
        if (fd == wake_) {
            uint64_t count;
            [[maybe_unused]] auto r = read(wake_, &count, sizeof count);
            // Only after the read: a post from now on wakes the loop again.
            std::lock_guard lock(mutex_);
            wakePending_ = false;
            continue;
        }
        bool readable = got & (EPOLLIN | EPOLLHUP | EPOLLERR);
        bool writable = got & (EPOLLOUT | EPOLLHUP | EPOLLERR);
        std::vector<std::shared_ptr<WatchEntry>> ready;
        {
            std::lock_guard lock(mutex_);
            for (auto& [id, entry] : watches_) {
                if (entry->fd != fd) continue;
                bool match = entry->condition == Condition::Readable ? readable : writable;
                if (match) ready.push_back(entry);
            }
        }
        for (auto& entry : ready) {
            if (!entry->token->isCancelled()) entry->ready();
        }
    }
}

void ManualRunLoop::runPending() {
    bindToCurrentThread();
    struct Running {
        std::atomic<bool>& flag;
        bool was;
        ~Running() { flag.store(was, std::memory_order_relaxed); }
    } running{running_, running_.load(std::memory_order_relaxed)};
    running_.store(true, std::memory_order_relaxed);
    if (epoll_ >= 0) pollDescriptors(0);
    for (;;) {
        bool did = false;
        while (runOneTask()) did = true;
        double limit = now();
        while (fireOneDueTimer(limit)) {
            did = true;
            while (runOneTask()) {
            }
        }
        if (!did) break;
    }
}

void ManualRunLoop::advance(double seconds) {
    bindToCurrentThread();
    double target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + std::max(seconds, 0.0);
    }
    runPending();
    while (fireOneDueTimer(target)) runPending();
    {
        std::lock_guard lock(mutex_);
        now_ = std::max(now_, target);
    }
    runPending();
}

bool ManualRunLoop::runUntil(const std::function<bool()>& done, double realTimeoutSeconds) {
    return serveUntil(done, realTimeoutSeconds * buildTimeScale());
}

void ManualRunLoop::runFor(double realSeconds) {
    serveUntil([] { return false; }, realSeconds);
}

bool ManualRunLoop::serveUntil(const std::function<bool()>& done, double realSeconds) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(realSeconds));
    for (;;) {
        runPending();
        if (done()) return true;
        auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) return false;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
        epoll_event ignored[8];
        // Level-triggered: what this wait sees is seen again by the next runPending(). The wait is
        // short so that a predicate on state other threads change is seen soon without a post.
        epoll_wait(epoll_, ignored, 8, static_cast<int>(std::min<int64_t>(ms, 10)));
    }
}

size_t ManualRunLoop::timerCount() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (auto& [id, entry] : timers_) n += entry->token->isCancelled() ? 0 : 1;
    return n;
}

}  // namespace quenbril
