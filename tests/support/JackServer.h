#pragma once

// The dummy JACK server of the `jack` test binaries: one per binary, named after its process,
// started by the test main (JackServerMain.cpp) and reachable here so that tests can restart it
// at another rate, or kill it to play a server that goes away.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"

namespace quenbril::test {

/// Set by the test main when no server could be started; holds the reason.
inline constexpr const char* kJackMissingVariable = "QUENBRIL_JACK_MISSING";

class JackServer {
  public:
    /// The binary's server: "quenbril-<pid>", 8 in, 8 out, 128-frame periods.
    static JackServer& shared();

    /// Starts jackd at `rate` with `playbackPorts` (0: a server with nothing to play on) and
    /// waits until clients can connect; false if it cannot, with jackd's own words on standard
    /// error. A `verbose` server has its clients' libjack say what it does, through
    /// jack_set_info_function().
    bool start(int rate = 48000, int playbackPorts = 8, bool verbose = false);
    /// Stops it by its process id and waits for it to end.
    void stop();
    /// Ends it at once, as a crash would.
    void kill();
    /// Sends `signal` to the server's process; false, sending nothing, while there is none (a
    /// process id of -1 would reach every process the user may signal on the machine).
    bool signal(int signal);
    /// Holds the server where it is (SIGSTOP), as a server that no longer answers, and waits up
    /// to `seconds` until all of it has stopped: the signal only asks, and a thread of a server
    /// kept from the CPU stops when it next runs. False when it did not stop.
    bool stopWithin(double seconds);
    /// Runs `close`, which closes clients of this server, on this thread. Should it take more
    /// than `seconds`, the server is killed, which ends every call waiting on it, and started
    /// again once `close` has returned; a line on standard error says so. True when it was.
    /// Should `close` end by itself, a server the caller stopped (SIGSTOP) is let go on.
    bool closeWithin(double seconds, const std::function<void()>& close);
    bool running() const { return process_ && process_->pid() > 0; }
    pid_t pid() const { return process_ ? process_->pid() : -1; }
    int rate() const { return rate_; }
    int playbackPorts() const { return playbackPorts_; }
    const std::string& name() const { return name_; }
    /// What jackd said on its standard error since its latest start ("" when nothing).
    std::string log() const;

  private:
    JackServer();
    ~JackServer();
    void reportFailedStart(const std::string& why) const;
    std::unique_ptr<ChildProcess> process_;
    int rate_ = 0;
    int playbackPorts_ = 0;
    std::string name_;
    std::string logPath_;  // jackd's standard error, of its latest start
};

}  // namespace quenbril::test

/// Skips the test where the binary has no JACK server.
#define QUENBRIL_REQUIRE_JACK()                                                      \
    do {                                                                             \
        if (const char* why = std::getenv(::quenbril::test::kJackMissingVariable)) { \
            GTEST_SKIP() << "No JACK server: " << why;                               \
        }                                                                            \
    } while (0)
