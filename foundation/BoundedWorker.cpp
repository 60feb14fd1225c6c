#include "foundation/BoundedWorker.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "foundation/BuildTimeScale.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

struct Ticket {
    bool started = false;
    bool finished = false;
    // Set when the caller gave up before the job started: the job is skipped.
    bool abandoned = false;
};

struct Job {
    std::function<void()> work;
    std::shared_ptr<Ticket> ticket;
    // Closes and frees run however late they come.
    bool mustRun = false;
};

}  // namespace

struct BoundedWorker::State {
    std::string name;
    std::string stuckText;
    std::string why;
    std::mutex mutex;
    std::condition_variable jobsWaiting;
    std::condition_variable jobDone;
    std::deque<Job> jobs;
    bool closing = false;
    bool stuck = false;
    std::thread::id thread;

    void loop() {
        std::unique_lock lock(mutex);
        for (;;) {
            jobsWaiting.wait(lock, [this] { return closing || !jobs.empty(); });
            if (jobs.empty()) return;
            Job job = std::move(jobs.front());
            jobs.pop_front();
            const bool skipped = job.ticket->abandoned && !job.mustRun;
            job.ticket->started = true;
            lock.unlock();
            if (!skipped) job.work();
            // The job's captures go here, off the lock: they may close what the job opened.
            job.work = nullptr;
            lock.lock();
            if (!skipped) {
                job.ticket->finished = true;
                jobDone.notify_all();
            }
            // Back with nothing left to do: whatever overran has returned. The job a caller gave
            // up on may be one that never started (the worker came late), so a skipped one counts.
            if (stuck && jobs.empty()) {
                stuck = false;
                QLOG("%s: answers again", name.c_str());
            }
        }
    }
};

BoundedWorker::BoundedWorker(std::string name, std::string stuckText, double limit, std::string why)
    : state_(std::make_shared<State>()), limit_(limit) {
    state_->name = std::move(name);
    state_->stuckText = std::move(stuckText);
    state_->why = std::move(why);
    std::thread thread([state = state_] { state->loop(); });
    // Thread names are at most 15 characters.
    pthread_setname_np(thread.native_handle(), state_->name.substr(0, 15).c_str());
    {
        std::lock_guard lock(state_->mutex);
        state_->thread = thread.get_id();
    }
    // Never joined: a job that never returns must not hold up the owner or the process.
    thread.detach();
}

BoundedWorker::~BoundedWorker() {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->jobsWaiting.notify_all();
}

bool BoundedWorker::run(std::function<void()>&& job) {
    return submit(std::move(job), false, true) == Outcome::Done;
}

bool BoundedWorker::runEvenLate(std::function<void()> job) {
    return submit(std::move(job), true, true) == Outcome::Done;
}

void BoundedWorker::post(std::function<void()> job) { submit(std::move(job), true, false); }

BoundedWorker::Outcome BoundedWorker::submit(std::function<void()>&& job, bool mustRun, bool wait) {
    if (isWorkerThread()) {
        job();
        return Outcome::Done;
    }
    auto ticket = std::make_shared<Ticket>();
    std::unique_lock lock(state_->mutex);
    if (!mustRun && (state_->stuck || state_->closing)) return Outcome::Refused;
    // What must run waits its turn behind a stuck job rather than in its caller's hands.
    const bool waits = wait && !state_->stuck;
    state_->jobs.push_back({std::move(job), ticket, mustRun});
    state_->jobsWaiting.notify_all();
    if (!waits) return Outcome::Late;
    const double limit = limit_.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    if (state_->jobDone.wait_until(lock, deadline, [&] { return ticket->finished; })) {
        return Outcome::Done;
    }
    ticket->abandoned = true;
    if (!state_->stuck) {
        state_->stuck = true;
        log(LogLevel::Warning, "%s: after %.1f s, %s%s%s; going on without it until it does",
            state_->name.c_str(), limit, state_->stuckText.c_str(), state_->why.empty() ? "" : " ",
            state_->why.c_str());
    }
    return Outcome::Late;
}

bool BoundedWorker::isStuck() const {
    std::lock_guard lock(state_->mutex);
    return state_->stuck;
}

bool BoundedWorker::isWorkerThread() const {
    std::lock_guard lock(state_->mutex);
    return state_->thread == std::this_thread::get_id();
}

const std::string& BoundedWorker::stuckText() const { return state_->stuckText; }

double BoundedWorker::defaultLimit() { return 3.0 * buildTimeScale(); }

}  // namespace quenbril
