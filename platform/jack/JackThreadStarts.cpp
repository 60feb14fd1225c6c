#include "platform/jack/JackThreadStarts.h"

#include <jack/jack.h>
#include <jack/thread.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <memory>

namespace quenbril {
namespace {

std::atomic<JackThreadStarts::Maker> maker{&pthread_create};
std::atomic<std::uint32_t> starts{0};

thread_local JackThreadStarts::Started lastStarted;
// Set before anything else the thread does, so that a signal handler only ever reads it.
thread_local std::uint32_t numberOfThis = 0;

struct Start {
    void* (*routine)(void*);
    void* argument;
    std::uint32_t number;
    // Its id, once it runs.
    std::promise<pid_t> running;
};

void* runStarted(void* given) {
    std::unique_ptr<Start> start(static_cast<Start*>(given));
    void* (*routine)(void*) = start->routine;
    void* argument = start->argument;
    numberOfThis = start->number;
    start->running.set_value(::gettid());
    start.reset();
    return routine(argument);
}

int startAndWaitUntilRunning(pthread_t* thread, const pthread_attr_t* attributes,
                             void* (*routine)(void*), void* argument) {
    // Never 0, which stands for a thread libjack did not start.
    std::uint32_t number = 0;
    while (number == 0) number = starts.fetch_add(1) + 1;
    auto start = std::make_unique<Start>(Start{routine, argument, number, {}});
    std::future<pid_t> running = start->running.get_future();
    const int error = maker.load()(thread, attributes, &runStarted, start.get());
    if (error != 0) return error;
    // The thread owns it now. A thread that was made always runs, so the wait ends.
    start.release();
    lastStarted = {running.get(), number};
    return 0;
}

}  // namespace

void JackThreadStarts::install() {
    static const bool installed = [] {
        jack_set_thread_creator(&startAndWaitUntilRunning);
        return true;
    }();
    (void)installed;
}

JackThreadStarts::Started JackThreadStarts::lastStartedHere() { return lastStarted; }

std::uint32_t JackThreadStarts::numberOfThisThread() { return numberOfThis; }

void JackThreadStarts::setMakerForTesting(Maker given) {
    maker.store(given ? given : &pthread_create);
}

}  // namespace quenbril
