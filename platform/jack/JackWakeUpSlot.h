#pragma once

#include <jack/jack.h>

namespace quenbril {

/// libjack keeps one table of the server's wake-up objects per process, one entry per client
/// number, and an open maps its number's entry only when the entry holds none: an entry still
/// holding a departed client's object (another program's client whose departure no client of
/// ours has read yet, or read by a client of ours that closed first) is kept, and the new
/// client's process thread then waits on an object no one signals: it opens, connects and never
/// plays. JACK 2 names each object after its server and client in /dev/shm, so the process's
/// memory map tells whether a client's entry holds its own.
class JackWakeUpSlot {
  public:
    /// False when the process maps no wake-up object of `client`'s name on its server; true too
    /// where the library keeps its objects otherwise, as then nothing can be told.
    static bool isOwn(jack_client_t* client);
};

}  // namespace quenbril
