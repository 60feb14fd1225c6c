#pragma once

#include <chrono>

#include "platform/jack/JackThreadStarts.h"

namespace quenbril {

/// libjack's close of a client cancels the client's notification thread at once, wherever it
/// is. That thread takes in every client's arrival and departure, another program's too, inside
/// the process's lock of the wake-up table: cancelled in there, it leaves the lock taken, and the
/// close, and every open and close of the process after it, waits for ever. Nothing tells us
/// before another program's client comes or goes, so before a close the thread is parked where
/// it waits for news: blocked reading its socket, holding no lock. Asked by a signal,
/// it stays in the handler, and the close's cancel ends it there; a thread found anywhere else
/// goes on and is asked again a moment later.
class JackNewsThreadPark {
  public:
    enum class Parked {
        Yes,
        /// The thread has ended, or its id went to another thread.
        NotThere,
        /// Not found waiting for news within the bound, or parking cannot be done here.
        NotReached,
    };
    /// Parks `thread`; once it is parked, only the cancel of the client's close may follow.
    static Parked park(const JackThreadStarts::Started& thread, std::chrono::milliseconds bound);
    /// Whether threads can be parked here: with JACK 2's library, on x86-64 and ARM64, not under
    /// ThreadSanitizer (which holds a signal back while its thread reads), and while the signal's
    /// handler is still ours.
    static bool possible();

    /// Requests the thread answered with "not waiting for news", and threads parked, for tests.
    static long declinedForTesting();
    static long heldForTesting();
};

}  // namespace quenbril
