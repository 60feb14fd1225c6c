#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/HostLookThread.h"

namespace quenbril {

/// The audio backend on a running JACK server, through libjack. Each client of the server that
/// owns physical ports ("system") is one device: its capture ports are the inputs, its playback
/// ports the outputs, at the server's rate. Each stream is a JACK client named "quenbril" with
/// ports "in_N" and "out_N" wired to the device's ports. A server that goes away ends its
/// streams (stoppedByHost), and they can be closed without waiting on it; once it is back, a
/// refresh finds its devices again. The backend looks at the server on a thread of its own when
/// it may have changed, so a refresh mostly takes that look's list without a call to libjack.
class JackAudioBackend : public AudioBackend {
  public:
    static constexpr const char* kHostAPIName = "JACK Audio Connection Kit";
    static constexpr const char* kClientName = "quenbril";

    JackAudioBackend();
    ~JackAudioBackend() override;

    /// Sends libjack's error and information printers to nowhere: a missing server is a normal
    /// state here, and the unit logs what matters.
    static void silenceMessages();

    std::vector<AudioBackendDevice> devices() override;
    std::optional<int> defaultInputDevice() override;
    std::optional<int> defaultOutputDevice() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client, std::string& error) override;
    bool refresh() override;
    /// Grows when a look on the backend's own thread found another list than the last: it
    /// looks when the server's socket comes, goes or is made anew (a server started, stopped or
    /// restarted) and when a server ends one of our streams.
    uint64_t deviceChanges() const override { return changes_.load(); }
    int openStreamCount() const override;
    std::string absence() override;

  private:
    class Stream;
    /// A device with the full names of its ports, in the server's order.
    struct Device {
        AudioBackendDevice info;
        std::vector<std::string> capturePorts;
        std::vector<std::string> playbackPorts;
    };
    struct Shared;

    std::vector<Device> enumerate();
    /// What the server's state is told by without libjack: its socket's identity and the
    /// streams servers ended.
    static uint64_t sign();
    /// The look thread's: the server's devices now, counted as a change where they differ.
    void look(uint64_t sign);

    mutable std::mutex mutex_;
    std::vector<Device> devices_;
    std::shared_ptr<Shared> shared_;
    /// No server answered the last look.
    std::atomic<bool> absent_{false};
    // The last look's list and the sign it was made at (under mutex_), and the changes found.
    std::vector<Device> looked_;
    uint64_t lookedSign_ = 0;
    std::atomic<uint64_t> changes_{0};
    // Last: it stops before what it looks into goes.
    std::unique_ptr<HostLookThread> lookThread_;
};

}  // namespace quenbril
