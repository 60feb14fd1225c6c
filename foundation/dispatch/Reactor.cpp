#include "foundation/dispatch/Reactor.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "foundation/Log.h"

namespace quenbril::dispatch {

Reactor& Reactor::shared() {
    // Never destroyed: sources and timers may still be in use while statics are torn down.
    static auto* reactor = new Reactor;
    return *reactor;
}

double Reactor::monotonicNow() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

Reactor::Reactor() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (epoll_ < 0 || timerFd_ < 0) {
        log(LogLevel::Error, "dispatch: cannot make the epoll or timer descriptor (errno %d)",
            errno);
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = timerFd_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, timerFd_, &ev);
    thread_ = std::thread([this] { run(); });
}

Reactor::~Reactor() {
    // Only reached by a reactor that failed to start (shared() never destroys its own).
    if (thread_.joinable()) thread_.detach();
    if (epoll_ >= 0) close(epoll_);
    if (timerFd_ >= 0) close(timerFd_);
}

uint64_t Reactor::addDescriptor(int fd, bool write, Callback ready) {
    std::lock_guard lock(mutex_);
    uint64_t id = nextId_++;
    registrations_[id] = Registration{fd, write, std::move(ready)};
    Interest& interest = interests_[fd];
    // One read and one write registration per descriptor: a newer one replaces the older.
    uint64_t& slot = write ? interest.writeId : interest.readId;
    if (slot) registrations_.erase(slot);
    slot = id;
    (write ? interest.writeArmed : interest.readArmed) = false;
    return id;
}

void Reactor::arm(uint64_t id) {
    std::lock_guard lock(mutex_);
    auto it = registrations_.find(id);
    if (it == registrations_.end()) return;
    Interest& interest = interests_[it->second.fd];
    bool& armed = it->second.write ? interest.writeArmed : interest.readArmed;
    if (armed) return;
    armed = true;
    updateInterest(it->second.fd, interest);
}

void Reactor::removeDescriptor(uint64_t id) {
    Callback dropped;  // released after the lock
    std::lock_guard lock(mutex_);
    auto it = registrations_.find(id);
    if (it == registrations_.end()) return;
    int fd = it->second.fd;
    dropped = std::move(it->second.ready);
    registrations_.erase(it);
    auto found = interests_.find(fd);
    if (found == interests_.end()) return;
    Interest& interest = found->second;
    if (interest.readId == id) {
        interest.readId = 0;
        interest.readArmed = false;
    }
    if (interest.writeId == id) {
        interest.writeId = 0;
        interest.writeArmed = false;
    }
    if (interest.readId == 0 && interest.writeId == 0) {
        if (interest.registered) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        interests_.erase(found);
    } else {
        updateInterest(fd, interest);
    }
}

void Reactor::updateInterest(int fd, Interest& interest) {
    uint32_t mask = 0;
    if (interest.readArmed) mask |= EPOLLIN | EPOLLRDHUP;
    if (interest.writeArmed) mask |= EPOLLOUT;
    if (mask == 0) return;  // one-shot: nothing armed means nothing to enable
    epoll_event ev{};
    ev.events = mask | EPOLLONESHOT;
    ev.data.fd = fd;
    if (interest.registered && epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0) return;
    // Not yet registered, or the kernel dropped it because the descriptor was closed unwatched.
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) == 0 ||
        (errno == EEXIST && epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0)) {
        interest.registered = true;
        return;
    }
    log(LogLevel::Error, "dispatch: cannot watch descriptor %d (errno %d)", fd, errno);
}

uint64_t Reactor::addTimer(double deadline, Callback fire) {
    std::lock_guard lock(mutex_);
    uint64_t id = nextId_++;
    timers_[id] = TimerEntry{deadline, std::move(fire)};
    deadlines_.emplace(deadline, id);
    rearmTimerFd();
    return id;
}

void Reactor::removeTimer(uint64_t id) {
    Callback dropped;
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    auto [first, last] = deadlines_.equal_range(it->second.deadline);
    for (auto d = first; d != last; ++d) {
        if (d->second == id) {
            deadlines_.erase(d);
            break;
        }
    }
    dropped = std::move(it->second.fire);
    timers_.erase(it);
}

void Reactor::rearmTimerFd() {
    if (deadlines_.empty()) return;  // a stale expiry finds nothing due and re-arms nothing
    double next = deadlines_.begin()->first;
    if (next == armedDeadline_) return;
    armedDeadline_ = next;
    itimerspec deadline{};
    double whole = std::floor(next);
    deadline.it_value.tv_sec = time_t(whole);
    deadline.it_value.tv_nsec = long((next - whole) * 1e9);
    if (deadline.it_value.tv_sec == 0 && deadline.it_value.tv_nsec == 0)
        deadline.it_value.tv_nsec = 1;
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &deadline, nullptr);
}

void Reactor::handleTimers() {
    uint64_t expirations;
    [[maybe_unused]] auto r = read(timerFd_, &expirations, sizeof expirations);
    std::vector<Callback> due;
    {
        std::lock_guard lock(mutex_);
        armedDeadline_ = -1;
        double now = monotonicNow();
        while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
            uint64_t id = deadlines_.begin()->second;
            deadlines_.erase(deadlines_.begin());
            auto it = timers_.find(id);
            if (it == timers_.end()) continue;
            due.push_back(std::move(it->second.fire));
            timers_.erase(it);
        }
        rearmTimerFd();
    }
    for (auto& fire : due) fire();
}

void Reactor::run() {
    pthread_setname_np(pthread_self(), "dispatch epoll");
    epoll_event events[64];
    for (;;) {
        int n = epoll_wait(epoll_, events, 64, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            log(LogLevel::Error, "dispatch: epoll_wait failed (errno %d)", errno);
            return;
        }
        for (int i = 0; i < n; ++i) {
            int fd = events[i].data.fd;
            if (fd == timerFd_) {
                handleTimers();
                continue;
            }
            uint32_t got = events[i].events;
            Callback readReady, writeReady;
            {
                std::lock_guard lock(mutex_);
                auto found = interests_.find(fd);
                if (found == interests_.end()) continue;
                Interest& interest = found->second;
                bool failed = got & (EPOLLERR | EPOLLHUP);
                if (interest.readArmed && (failed || (got & (EPOLLIN | EPOLLRDHUP)))) {
                    interest.readArmed = false;
                    readReady = registrations_[interest.readId].ready;
                }
                if (interest.writeArmed && (failed || (got & EPOLLOUT))) {
                    interest.writeArmed = false;
                    writeReady = registrations_[interest.writeId].ready;
                }
                // The event disabled the whole descriptor: enable again what did not fire.
                updateInterest(fd, interest);
            }
            if (readReady) readReady();
            if (writeReady) writeReady();
        }
    }
}

}  // namespace quenbril::dispatch
