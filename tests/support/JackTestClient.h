#pragma once

// A libjack client of the `jack` tests: its output ports inject constants or tones into another
// client, its input ports record what another client plays. Clients of the audio, MIDI and
// toolkit tests share it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/JackClientRoster.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;
typedef unsigned int jack_nframes_t;

namespace quenbril::test {

class JackTestClient {
  public:
    static constexpr double kMaxSeconds = 4.0;

    /// Opens a client named `name` on the process's server with `inputs` recording ports
    /// ("in_1"...) and `outputs` injecting ports ("out_1"...), and activates it.
    JackTestClient(const std::string& name, int inputs, int outputs);
    ~JackTestClient();
    JackTestClient(const JackTestClient&) = delete;
    JackTestClient& operator=(const JackTestClient&) = delete;

    bool isOpen() const { return client_ != nullptr; }
    /// True once the server went away under the client.
    bool serverGone() const { return serverGone_.load(); }
    int sampleRate() const;
    /// "name:in_<k+1>" and "name:out_<k+1>".
    std::string inputPort(int k) const;
    std::string outputPort(int k) const;
    /// Connects two ports by full name.
    bool connect(const std::string& from, const std::string& to);
    /// Port names matching a pattern, e.g. "quenbril:out_.*".
    std::vector<std::string> ports(const std::string& pattern) const;
    /// The ports connected to the port of this full name, any client's.
    std::vector<std::string> connections(const std::string& port) const;
    /// Clients that came to the server since this one was activated (JackClientRoster).
    const JackClientRoster& roster() const { return roster_; }

    /// Output port k plays `value` in every sample, or a sine of `frequency` Hz and peak
    /// `amplitude`.
    void setConstant(int k, float value);
    void setTone(int k, double frequency, float amplitude);

    /// Starts recording `seconds` (at most kMaxSeconds) on every input port, from empty.
    void record(double seconds);
    /// Waits until the recording is full; false once `timeout` seconds of real time pass in which
    /// no frame came (a plain build's, stretched here for a slower one: TestTime.h), or once the
    /// server went away. The limit is on a stall, not on the whole recording: a dummy server on a
    /// loaded machine plays its periods well behind the wall clock, and a second of its audio can
    /// take longer than any fixed limit while every period still comes.
    bool waitRecorded(double timeout) const;
    /// True once the recording asked for is complete.
    bool recordingDone() const { return recordedFrames_.load() >= wantedFrames_.load(); }
    /// Samples recorded on input port k so far.
    std::vector<float> recorded(int k) const;

    /// A period the recording took: its first frame in the recording, the server's frame time
    /// when the client began it and once every input was copied (a later one: the server began
    /// another period meanwhile), and which inputs (bit k: input k) had a connection.
    struct Period {
        size_t first = 0;
        uint32_t frameTimeBefore = 0;
        uint32_t frameTimeAfter = 0;
        uint32_t connected = 0;
    };
    /// The recorded periods from `from` to `to` (frames of the recording), one line each.
    std::string describePeriods(size_t from, size_t to) const;

  private:
    /// The periods recorded so far, in order.
    std::vector<Period> periods() const;
    struct Generator {
        std::atomic<float> constant{0.0f};
        std::atomic<double> frequency{0.0};
        std::atomic<float> amplitude{0.0f};
        double phase = 0.0;
    };
    static int process(jack_nframes_t frames, void* context);
    static void shutdown(void* context);

    jack_client_t* client_ = nullptr;
    std::string name_;
    std::vector<jack_port_t*> inputs_;
    std::vector<jack_port_t*> outputs_;
    std::vector<std::unique_ptr<Generator>> generators_;
    std::vector<std::vector<float>> recordings_;
    // The process callback's own table of the input buffers of the period.
    std::vector<const float*> inputBuffers_;
    std::vector<Period> periods_;
    std::atomic<size_t> recordedPeriods_{0};
    std::atomic<size_t> recordedFrames_{0};
    std::atomic<size_t> wantedFrames_{0};
    std::atomic<bool> serverGone_{false};
    JackClientRoster roster_;
};

}  // namespace quenbril::test
