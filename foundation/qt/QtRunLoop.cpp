#include "foundation/qt/QtRunLoop.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace quenbril {

namespace {

int milliseconds(double seconds) {
    double ms = std::ceil(seconds * 1000.0);
    if (!(ms > 0)) return 0;
    return int(std::min(ms, double(std::numeric_limits<int>::max())));
}

// Stops and frees a timer or notifier from its own thread; elsewhere the owner notices the
// cancelled token at its next event and frees it then.
void retireOnThread(QThread* thread, QPointer<QObject> object) {
    if (QThread::currentThread() != thread || !object) return;
    if (auto* timer = qobject_cast<QTimer*>(object.data())) timer->stop();
    if (auto* notifier = qobject_cast<QSocketNotifier*>(object.data())) notifier->setEnabled(false);
    object->deleteLater();
}

}  // namespace

QtRunLoop::QtRunLoop() : context_(std::make_unique<QObject>()), thread_(QThread::currentThread()) {}

QtRunLoop::~QtRunLoop() {
    resignMain();
    // Tasks that never ran go here, outside the lock and while the queue is whole: what they
    // hold may post on its way out.
    for (;;) {
        std::deque<std::function<void()>> left;
        {
            std::lock_guard held(tasksLock_);
            if (tasks_.empty()) break;
            left.swap(tasks_);
        }
    }
}

void QtRunLoop::post(std::function<void()> task) {
    {
        std::lock_guard held(tasksLock_);
        tasks_.push_back(std::move(task));
        if (turnPosted_) return;
        turnPosted_ = true;
    }
    postTurn();
}

void QtRunLoop::postTurn() {
    QMetaObject::invokeMethod(
        context_.get(), [this] { runTasks(); }, Qt::QueuedConnection);
}

void QtRunLoop::runTasks() {
    const auto began = std::chrono::steady_clock::now();
    {
        // From here what is posted needs a turn of its own (at most one waits at a time): this
        // one may end at its budget, or a task may run a loop of its own (a modal dialog),
        // which then runs that turn.
        std::lock_guard held(tasksLock_);
        turnPosted_ = false;
    }
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard held(tasksLock_);
            if (tasks_.empty()) return;
            if (std::chrono::steady_clock::now() - began >= kTurnBudget) {
                // The rest waits for the next turn, after Qt's events.
                if (turnPosted_) return;
                turnPosted_ = true;
            } else {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
        }
        if (!task) {
            postTurn();
            return;
        }
        task();
    }
}

double QtRunLoop::now() const { return realTimeNow(); }

Timer QtRunLoop::scheduleTimer(double interval, bool repeats, std::function<void()> fire) {
    auto token = std::make_shared<CancelToken>();
    interval = timerInterval(interval, repeats);
    if (QThread::currentThread() == thread_) {
        startTimer(token, interval, repeats, std::move(fire));
    } else {
        post([this, token, interval, repeats, fire = std::move(fire)]() mutable {
            startTimer(token, interval, repeats, std::move(fire));
        });
    }
    return Timer(token);
}

void QtRunLoop::startTimer(const std::shared_ptr<CancelToken>& token, double interval, bool repeats,
                           std::function<void()> fire) {
    if (token->isCancelled()) return;
    auto* timer = new QTimer(context_.get());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeats);
    timer->setInterval(milliseconds(interval));
    QObject::connect(timer, &QTimer::timeout, timer, [timer, token, repeats, fire] {
        if (token->isCancelled()) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        if (!repeats) timer->deleteLater();
        fire();
        if (!repeats) token->cancel();
    });
    token->setOnCancel(
        [thread = thread_, guard = QPointer<QObject>(timer)] { retireOnThread(thread, guard); });
    timer->start();
}

DescriptorWatch QtRunLoop::watchDescriptor(int fd, Condition condition,
                                           std::function<void()> ready) {
    auto token = std::make_shared<CancelToken>();
    auto type = condition == Condition::Readable ? QSocketNotifier::Read : QSocketNotifier::Write;
    auto* notifier = new QSocketNotifier(fd, type, context_.get());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, token, ready = std::move(ready)] {
                         if (token->isCancelled()) {
                             notifier->setEnabled(false);
                             notifier->deleteLater();
                             return;
                         }
                         ready();
                     });
    token->setOnCancel(
        [thread = thread_, guard = QPointer<QObject>(notifier)] { retireOnThread(thread, guard); });
    return DescriptorWatch(token);
}

}  // namespace quenbril
