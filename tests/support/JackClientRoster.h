#pragma once

// What an active test client's news thread has heard of the server's other clients coming and
// going. libjack's close cancels that thread at once, wherever it is: cancelled while it takes in
// another client's departure, it dies holding a lock of the library's own, and every later open
// and close of the process waits for ever. A test client that closes right after another process
// or client left (a host stopped in a fixture's tear-down) first waits until its thread has taken
// that departure in.

#include <jack/jack.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace quenbril::test {

class JackClientRoster {
  public:
    /// Before `client` is activated: its thread then tells the roster of every client that
    /// comes or goes while it is active.
    void attach(jack_client_t* client);
    /// Waits, at most `seconds` (of a plain build), until every client heard of is still on the
    /// server: a departure the server made, the thread has taken in.
    void settle(jack_client_t* client, double seconds = 5.0) const;
    /// For a client left to libjack unclosed (its server gone): its thread may still tell.
    void outliveClient();
    /// Whether a client called `name` came since the attach, and how many came before it first
    /// did (all that came, while it has not).
    bool heardOf(const std::string& name) const;
    int arrivalsBefore(const std::string& name) const;

  private:
    struct Heard {
        std::mutex lock;
        std::set<std::string> names;
        std::vector<std::string> arrivals;
    };
    static void registration(const char* name, int registered, void* context);

    std::unique_ptr<Heard> heard_ = std::make_unique<Heard>();
};

}  // namespace quenbril::test
