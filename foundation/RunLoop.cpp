#include "foundation/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

#include "foundation/ManualRunLoop.h"

namespace quenbril {

namespace {

// Seconds between 1970-01-01 and 2001-01-01.
constexpr double kUnixToReferenceDate = 978307200.0;

constexpr double kMinimumRepeatInterval = 0.0001;

struct MainLoopSlot {
    std::mutex mutex;
    std::atomic<RunLoop*> current{nullptr};
    // The loop main() gives while none is installed: one for the whole process, made on first use
    // and never destroyed (another thread may still hold the reference main() gave it after the
    // slot was reset), emptied each time it leaves the slot and each time main() puts it back.
    ManualRunLoop* onDemand = nullptr;
};

MainLoopSlot& slot() {
    static auto* s = new MainLoopSlot;
    return *s;
}

// Static initialisation runs on the process's main thread.
const std::thread::id kProcessMainThread = std::this_thread::get_id();

}  // namespace

// The installed loop, else the one made on demand, fresh; the caller holds the slot's mutex and
// releases `dropped` (what the loop held before) once it no longer does.
RunLoop& RunLoop::mainLocked(std::shared_ptr<void>& dropped) {
    MainLoopSlot& s = slot();
    if (RunLoop* loop = s.current.load(std::memory_order_acquire)) return *loop;
    if (s.onDemand) {
        // As a loop made anew: what a thread that kept the reference left on it meanwhile goes.
        dropped = s.onDemand->restart(realTimeNow());
    } else {
        s.onDemand = new ManualRunLoop;
    }
    // Made on demand, perhaps from a worker: it belongs to the main thread until someone runs it.
    s.onDemand->setThread(kProcessMainThread);
    s.current.store(s.onDemand, std::memory_order_release);
    return *s.onDemand;
}

RunLoop& RunLoop::main() {
    MainLoopSlot& s = slot();
    if (RunLoop* loop = s.current.load(std::memory_order_acquire)) return *loop;
    std::shared_ptr<void> dropped;
    std::lock_guard lock(s.mutex);
    return mainLocked(dropped);
}

void RunLoop::postToMain(std::function<void()> task) {
    MainLoopSlot& s = slot();
    std::shared_ptr<void> dropped;
    std::lock_guard lock(s.mutex);
    mainLocked(dropped).post(std::move(task));
}

void RunLoop::setMain(RunLoop* loop) {
    MainLoopSlot& s = slot();
    std::shared_ptr<void> dropped;
    std::lock_guard lock(s.mutex);
    RunLoop* was = s.current.exchange(loop, std::memory_order_acq_rel);
    // The loop made on demand leaves the slot: what was posted to it never runs, and goes now.
    if (was && was == s.onDemand && loop != was) dropped = s.onDemand->restart(realTimeNow());
}

double RunLoop::realTimeNow() {
    using namespace std::chrono;
    auto since = system_clock::now().time_since_epoch();
    return duration<double>(since).count() - kUnixToReferenceDate;
}

double RunLoop::timerInterval(double interval, bool repeats) {
    if (!std::isfinite(interval) && interval > 0) interval = std::numeric_limits<double>::max();
    if (!(interval >= 0)) interval = 0;
    return repeats ? std::max(interval, kMinimumRepeatInterval) : interval;
}

RunLoop::RunLoop() : thread_(std::this_thread::get_id()) {}

RunLoop::~RunLoop() { resignMain(); }

void RunLoop::resignMain() {
    MainLoopSlot& s = slot();
    std::lock_guard lock(s.mutex);
    RunLoop* self = this;
    // A loop that goes away while installed must not stay reachable.
    s.current.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

void RunLoop::after(double delay, std::function<void()> task) {
    // Destroying the handle would cancel the timer: the callback keeps it alive, and the loop
    // drops both once the timer has fired (or when the loop goes away).
    auto holder = std::make_shared<Timer>();
    *holder = scheduleTimer(delay, false, [holder, task = std::move(task)] { task(); });
}

bool RunLoop::isCurrentThread() const {
    return thread_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

}  // namespace quenbril
