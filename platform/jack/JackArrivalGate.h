#pragma once

#include <jack/jack.h>

#include <chrono>

namespace quenbril {

/// libjack keeps one table of the server's wake-up slots, one per client number, for the whole
/// process, and every client of the process updates it from its own notification thread: news of
/// a client's departure unmaps that number's slot. The server gives a departed client's number
/// (of any program) to the next client that opens and tells the others of the departure when
/// they read it: a client of ours that reads it only after a new client of ours took the number
/// unmaps the slot under the new client's process thread, which then crashes.
///
/// Each client reads its news in order, and the server tells of a client's arrival after every
/// departure of its number. So a client of ours starts its threads only once every active client
/// of ours on its server has read the arrival of every client we opened while it was active:
/// none of them has a departure left to read that could unmap a slot now in use. The server has
/// written those arrivals before the open returned, so a stopped server adds no wait; the wait is
/// bounded all the same, so that a client of ours whose thread is stuck holds no caller for good.
class JackArrivalGate {
  public:
    /// After each client of ours opens: every active client of ours now owes its arrival.
    static void opened(jack_client_t* client);
    /// Before `client` is activated: waits until no active client owes an arrival, or `bound`
    /// passed (false then), and makes `client` one that reports the arrivals it reads.
    static bool admit(jack_client_t* client, std::chrono::milliseconds bound);
    /// Before `client` is closed or let go.
    static void leave(jack_client_t* client);

    /// Before a client of ours that reached its server is closed: every other active client of
    /// ours on that server now owes its departure.
    static void departing(jack_client_t* client);
    /// Before `client`, still active, is closed or let go: waits until it owes no arrival or
    /// departure, or `bound` passed, or its server no longer answers (false then). libjack's
    /// close cancels the client's news thread at once, wherever it is: cancelled while it takes
    /// in a client's arrival or departure, it dies holding the library's lock of the wake-up
    /// table, and that close, and every open and close of the process after it, waits for ever.
    static bool catchUp(jack_client_t* client, std::chrono::milliseconds bound);

    /// Admissions waiting now, for tests that hold a client's news back.
    static int waitingForTesting();
    /// Settles waiting now, likewise.
    static int settlingForTesting();
};

}  // namespace quenbril
