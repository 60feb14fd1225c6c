#pragma once

#include <jack/jack.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/jack/RefusedSocketBackoff.h"

namespace quenbril {

/// Whether opening a JACK client could find a server, told without libjack. Every open passes
/// through libjack's shared store, which stays locked for good when a client dies inside one; so
/// polls for a server that is not there open no client. A JACK 2 server listens on a socket
/// named after it in /dev/shm: while there is none, no server runs. A socket that refused an
/// open is held back a while, longer each time it refuses again (RefusedSocketBackoff): soon
/// tried again while it may be a starting server's, seldom when a killed server left it. Where
/// the library is another implementation, or the socket's place is unknown, every open is worth
/// trying.
class JackServerPresence {
  public:
    /// jack_client_open, never starting a server, unless no server can be there (null then, as
    /// when none answers); what it found is remembered for the next. Opens with
    /// JackClients::openHeld(), so called under JackClients::opening(), like every open.
    static jack_client_t* open(const char* name, jack_status_t* status);

    /// Whether `client`'s server still answers: one request that needs it, which fails at once
    /// when the server's socket is closed.
    static bool answers(jack_client_t* client);

    /// True when an open now could reach a server.
    static bool worthAnOpen();
    /// The same for a server whose socket is `socket` (none: no server), as socketIdentity()
    /// gave it.
    static bool worthAnOpenOn(const std::optional<SocketIdentity>& socket);
    /// Whether the socket there now refused an open but may yet be a slow server's: then it is
    /// worth another look each time it becomes worth another open, though it stays the same.
    /// One that refused for longer than the backoff's doubling waits is given up until it
    /// changes.
    static bool socketMayBeStarting();
    /// After an open found no server: the socket there now is held back a while.
    static void noServerAnswered();
    /// After an open reached a server.
    static void serverAnswered();

    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    /// The time the hold-back counts in; an empty clock is steady_clock's, the default.
    static void setClockForTesting(Clock clock);

    /// The server's socket there now, told apart from an earlier server's at the same path.
    static std::optional<SocketIdentity> socketIdentity();

    /// The socket of the server clients of this process join ("/dev/shm/jack_default_0_0").
    static std::string socketPath();
    /// The name of that server ("default" unless JACK_DEFAULT_SERVER names another).
    static std::string serverName();
    /// True where the library is JACK 2's own, which names its sockets and wake-up objects in
    /// /dev/shm.
    static bool libraryIsJack2();

  private:
    /// Whether the socket's presence tells whether a server may be there: JACK 2's library,
    /// its server not open to every user.
    static bool socketsTell();
    /// After an open on the socket `tried` (as it was before the open) found no server.
    static void refusedOn(const std::optional<SocketIdentity>& tried);
};

}  // namespace quenbril
