#pragma once

// A libjack client of the `jack` tests that plays a MIDI controller: its MIDI output ports send
// the messages a test queues, and its MIDI input ports are the destinations a controller with
// lights would have.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/JackClientRoster.h"
#include "tests/support/MidiTestController.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;
typedef unsigned int jack_nframes_t;

namespace quenbril::test {

class JackMidiTestClient : public MidiTestController {
  public:
    using Clock = std::chrono::steady_clock;

    /// Opens a client named `name` on the process's server with `outputs` MIDI output ports
    /// ("out_1"...) and `inputs` MIDI input ports ("in_1"...), and activates it. Each message
    /// written is stamped, up to `stamps` of them.
    JackMidiTestClient(const std::string& name, int outputs, int inputs, size_t stamps = 0);
    /// Deactivates and closes the client. A client whose server went away is left to libjack,
    /// which frees it when the next client opens (closing it as well would free it twice), and
    /// its threads may still be inside a callback then: what they read is left with it.
    ~JackMidiTestClient() override;
    JackMidiTestClient(const JackMidiTestClient&) = delete;
    JackMidiTestClient& operator=(const JackMidiTestClient&) = delete;

    bool isOpen() const override { return client_ != nullptr; }
    bool serverGone() const { return state_->serverGone.load(); }
    jack_client_t* client() const { return client_; }
    /// The name the server gave the client.
    const std::string& name() const { return name_; }

    /// Queues one message (at most 3 bytes) for output port k; the process thread writes it
    /// at the start of its next cycle. False when the queue is full. One thread sends.
    bool send(int k, const std::vector<uint8_t>& bytes) override;
    /// Messages written to their ports so far, and when each of the first `stamps` was.
    size_t written() const override { return state_->written.load(); }
    Clock::time_point writtenAt(size_t i) const { return state_->stamps[i]; }
    /// Periods the server reported late (xruns) since the client opened: in such a period a
    /// client downstream may miss what was written.
    size_t xruns() const { return state_->xruns.load(); }
    /// When the server reported late period i (the first kMaxXrunTimes of them).
    Clock::time_point xrunAt(size_t i) const { return state_->xrunTimes[i]; }
    static constexpr size_t kMaxXrunTimes = 4096;

  private:
    // One queued message: the port, the length and three bytes.
    struct Queued {
        uint8_t port = 0;
        uint8_t length = 0;
        uint8_t bytes[3] = {};
    };
    static constexpr size_t kQueueSize = 4096;

    // What libjack's threads (the process thread, the server watch) read: the context of the
    // callbacks, which may outlive the client object.
    struct State {
        std::vector<jack_port_t*> outputs;
        // From the sending thread to the process thread, without locks.
        std::vector<Queued> queue = std::vector<Queued>(kQueueSize);
        std::atomic<size_t> queued{0};
        std::atomic<size_t> taken{0};
        std::vector<Clock::time_point> stamps;
        std::atomic<size_t> written{0};
        std::vector<Clock::time_point> xrunTimes = std::vector<Clock::time_point>(kMaxXrunTimes);
        std::atomic<size_t> xruns{0};
        std::atomic<bool> serverGone{false};
    };

    static int process(jack_nframes_t frames, void* context);
    static void shutdown(void* context);
    static int xrun(void* context);

    jack_client_t* client_ = nullptr;
    std::string name_;
    std::vector<jack_port_t*> inputs_;
    std::unique_ptr<State> state_ = std::make_unique<State>();
    JackClientRoster roster_;
};

}  // namespace quenbril::test
