#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// The audio backend on a running JACK server, through libjack. Each client of the server that
/// owns physical ports ("system") is one device: its capture ports are the inputs, its playback
/// ports the outputs, at the server's rate. Each stream is a JACK client named "quenbril" with
/// ports "in_N" and "out_N" wired to the device's ports. A server that goes away ends its
/// streams (stoppedByHost), and they can be closed without waiting on it; once it is back, a
/// refresh finds its devices again.
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
    /// Grows when the server's socket comes, goes or is made anew (a server started, stopped or
    /// restarted), when a server ends one of our streams, and when a socket that did not answer
    /// the last look is worth another open: one stat, no libjack call.
    uint64_t deviceChanges() const override;
    uint64_t lookedAtChanges() const override;
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

    mutable std::mutex mutex_;
    std::vector<Device> devices_;
    std::shared_ptr<Shared> shared_;
    /// No server answered the last look.
    std::atomic<bool> absent_{false};
    /// The last look found a socket but no server answering on it.
    mutable std::atomic<bool> lookAgainWhenWorth_{false};
    /// The server's socket as last seen (0, 0 while there is none) and the changes seen so far.
    mutable std::mutex socketMutex_;
    mutable std::pair<uint64_t, uint64_t> socket_{0, 0};
    mutable uint64_t socketChanges_ = 0;
    /// deviceChanges() as the latest look began.
    std::atomic<uint64_t> lookedAt_{0};
};

}  // namespace quenbril
