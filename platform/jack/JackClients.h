#pragma once

#include <jack/jack.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace quenbril {

/// The process's JACK clients, kept safe from libjack's clean-up. When a server goes away,
/// libjack frees every client of it the next time any client of the process opens, and that
/// open may come before a client's own shutdown callback has run (the callback then never runs).
/// So every open in the process goes through opening(), which first asks each tracked client,
/// with one round trip to its server, whether the server still answers, and marks those that do
/// not as gone. Their owners then neither use nor close them.
///
/// A tracked client is used only under inUse() and after looking at its gone flag: no open, and so
/// no clean-up, runs meanwhile.
class JackClients {
  public:
    /// Held around anything that opens a JACK client, ours or one inside a library (RtMidi,
    /// PortAudio), and around the life of a client made for one look at the server.
    static std::unique_lock<std::shared_mutex> opening();
    /// Held while a tracked client is used.
    static std::shared_lock<std::shared_mutex> inUse();

    /// jack_client_open under opening(), never starting a server: openHeld().
    static jack_client_t* open(const char* name, jack_status_t* status);
    /// jack_client_open, never starting a server, for a caller holding opening(). A client whose
    /// wake-up slot holds a departed client's object (JackWakeUpSlot) is closed and opened
    /// again; the one returned is known to the arrival gate.
    static jack_client_t* openHeld(const char* name, jack_status_t* status);

    /// jack_activate, once no client of ours has news left to read that could unmap the slot
    /// `client`'s threads will use (JackArrivalGate), waiting at most 2 s for the others' news.
    static int activate(jack_client_t* client);
    /// jack_deactivate: an inactive client hears no news, so no later start waits for its
    /// reading; activate() admits it again.
    static int deactivate(jack_client_t* client);

    /// Deactivates and closes `client`, whose server still answers, once no other close of ours
    /// runs; `xrunContext` is what its xrun callback, if it has one, was given. Called under
    /// inUse(), after forget(); a client that never became active only under the opening() it
    /// was opened in, as it takes in our departures unheard by the arrival gate.
    static void close(jack_client_t* client, void* xrunContext = nullptr);
    /// close(), unless the server no longer answers: then nothing is closed (false), and the
    /// caller lets the client go as a gone server's one, keeping what its callbacks reach.
    static bool closeUnlessGone(jack_client_t* client, void* xrunContext);

    /// Tracks `client`, whose owner sets `gone` from its shutdown callback too; called under
    /// opening() or inUse(), like forget().
    static void track(jack_client_t* client, std::atomic<bool>& gone);
    /// Before the owner closes or lets go of the client: true when it is gone, and then the
    /// owner lets it go, closing nothing.
    static bool forget(jack_client_t* client);
    /// forget(), then closeUnlessGone() for a client that is not gone: true when it was closed,
    /// false when the owner lets it go.
    static bool forgetAndClose(jack_client_t* client, void* xrunContext);

    /// Closes waiting for another to end, for tests that hold a close.
    static int closesWaitingForTesting();
    /// Whether some thread holds opening() now, likewise.
    static bool openingHeldForTesting();

  private:
    static void markClientsOfGoneServers();
};

}  // namespace quenbril
