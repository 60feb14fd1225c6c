#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;

namespace quenbril {

/// A port-less JACK client that tells whether the server it joined is still there, and lists the
/// server's MIDI ports. RtMidi's own clients report nothing when the server goes away (their port
/// lists stay as they were). It is active, so that it reads the news of our other clients (see
/// JackArrivalGate), but with no process callback it costs the server no periods.
///
/// libjack deletes the clients of a dead server when any client of the process next opens, so a
/// watch whose server went away leaves its client to libjack rather than closing it; the client is
/// tracked by JackClients, which marks it gone before such an open.
class JackServerWatch {
  public:
    /// Joins the running server, never starting one; alive() is false when none answered or it
    /// did not start the client.
    JackServerWatch();
    ~JackServerWatch();
    JackServerWatch(const JackServerWatch&) = delete;
    JackServerWatch& operator=(const JackServerWatch&) = delete;

    /// False once the server went away (or was never reached, or did not start the client).
    bool alive() const { return client_ != nullptr && !gone_->load(); }
    /// The full names ("client:port") of the MIDI ports that send (`outputs`) or receive; empty
    /// once the server went away.
    std::vector<std::string> midiPorts(bool outputs) const;
    /// The full names of the ports connected to the port of this full name, any client's; none
    /// when there is no such port or the server went away.
    std::optional<std::vector<std::string>> connections(const std::string& port) const;
    /// The id the server gave the client of this name, which a client made again under it does
    /// not get; none when there is no such client or the server went away.
    std::optional<std::string> clientId(const std::string& client) const;

    /// Silences libjack's error and information printers, which would otherwise print several
    /// lines on every failed attempt to reach a server.
    static void silenceJack();

  private:
    static void shutdown(void* gone);
    /// Closes the client, or leaves it to libjack when its server went away; under inUse() or
    /// opening().
    void letGo();

    jack_client_t* client_ = nullptr;
    // Set by libjack's thread, which may still set it after a watch whose client was left to
    // libjack is gone: then it is kept to the end of the process.
    std::unique_ptr<std::atomic<bool>> gone_ = std::make_unique<std::atomic<bool>>(false);
};

}  // namespace quenbril
