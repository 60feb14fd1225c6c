#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>

namespace quenbril {

/// How libjack's threads (a client's notification and process threads, the library's message
/// thread) are started. libjack gives a thread it starts a thousand 1 ms sleeps to begin; a
/// thread that begins later, as one may on a loaded machine, it takes for failed: it deletes what
/// the thread was started for (or, for a process thread, leaves it to the client's close, which
/// then does not stop it), and the thread, once it runs, reads freed memory and the process
/// crashes. So each of them is started by a maker that returns only once the thread runs: libjack
/// then always finds it begun.
class JackThreadStarts {
  public:
    /// Makes libjack start its threads so; done once, before the process's first JACK open
    /// (JackClients::opening() sees to it).
    static void install();

    /// A thread libjack started: its id in the kernel, and the number of its start (from 1), by
    /// which the thread knows itself once its id may have gone to another.
    struct Started {
        pid_t id = 0;
        std::uint32_t number = 0;
    };
    /// The latest thread libjack started from a call on the calling thread.
    static Started lastStartedHere();
    /// The number of the calling thread's start, 0 for a thread libjack did not start; safe in a
    /// signal handler.
    static std::uint32_t numberOfThisThread();

    using Maker = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    /// What creates the threads: pthread_create, unless a test gives one that begins them late.
    static void setMakerForTesting(Maker maker);
};

}  // namespace quenbril
