#include "foundation/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/ManualRunLoop.h"

namespace quenbril {

namespace {

// Seconds between 1970-01-01 and 2001-01-01.
constexpr double kUnixToReferenceDate = 978307200.0;

constexpr double kMinimumRepeatInterval = 0.0001;

struct MainLoopSlot {
    std::mutex mutex;
    std::atomic<RunLoop*> current{nullptr};
    // Loops made on demand are never destroyed before exit: another thread may still hold the
    // reference main() gave it after a test reset the slot.
    std::vector<std::unique_ptr<ManualRunLoop>> made;
};

MainLoopSlot& slot() {
    static auto* s = new MainLoopSlot;
    return *s;
}

// Static initialisation runs on the process's main thread.
const std::thread::id kProcessMainThread = std::this_thread::get_id();

}  // namespace

// The installed loop, or one made now; the caller holds the slot's mutex.
RunLoop& RunLoop::mainLocked() {
    MainLoopSlot& s = slot();
    if (RunLoop* loop = s.current.load(std::memory_order_acquire)) return *loop;
    s.made.push_back(std::make_unique<ManualRunLoop>());
    // Made on demand, perhaps from a worker: it belongs to the main thread until someone runs it.
    s.made.back()->setThread(kProcessMainThread);
    s.current.store(s.made.back().get(), std::memory_order_release);
    return *s.made.back();
}

RunLoop& RunLoop::main() {
    MainLoopSlot& s = slot();
    if (RunLoop* loop = s.current.load(std::memory_order_acquire)) return *loop;
    std::lock_guard lock(s.mutex);
    return mainLocked();
}

void RunLoop::postToMain(std::function<void()> task) {
    MainLoopSlot& s = slot();
    std::lock_guard lock(s.mutex);
    mainLocked().post(std::move(task));
}

void RunLoop::setMain(RunLoop* loop) {
    MainLoopSlot& s = slot();
    std::lock_guard lock(s.mutex);
    s.current.store(loop, std::memory_order_release);
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
