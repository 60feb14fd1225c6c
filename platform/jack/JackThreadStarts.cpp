#include "platform/jack/JackThreadStarts.h"

#include <jack/jack.h>
#include <jack/thread.h>

#include <atomic>
#include <future>
#include <memory>

namespace quenbril {
namespace {

std::atomic<JackThreadStarts::Maker> maker{&pthread_create};

struct Start {
    void* (*routine)(void*);
    void* argument;
    std::promise<void> running;
};

void* runStarted(void* given) {
    std::unique_ptr<Start> start(static_cast<Start*>(given));
    void* (*routine)(void*) = start->routine;
    void* argument = start->argument;
    start->running.set_value();
    start.reset();
    return routine(argument);
}

int startAndWaitUntilRunning(pthread_t* thread, const pthread_attr_t* attributes,
                             void* (*routine)(void*), void* argument) {
    auto start = std::make_unique<Start>(Start{routine, argument, {}});
    std::future<void> running = start->running.get_future();
    const int error = maker.load()(thread, attributes, &runStarted, start.get());
    if (error != 0) return error;
    // The thread owns it now. A thread that was made always runs, so the wait ends.
    start.release();
    running.wait();
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

void JackThreadStarts::setMakerForTesting(Maker given) {
    maker.store(given ? given : &pthread_create);
}

}  // namespace quenbril
