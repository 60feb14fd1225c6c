#pragma once

#include <memory>

#include "foundation/dispatch/Queue.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// The audio backend on PortAudio: ALSA and the host's other APIs, but not JACK, which
/// JackAudioBackend serves. Every PortAudio call except the stream callbacks runs on the
/// backend's own serial queue, so callers on any thread never race PortAudio's global state.
/// ALSA's and JACK's error printers are silenced.
class PortAudioBackend : public AudioBackend {
  public:
    PortAudioBackend();
    ~PortAudioBackend() override;

    std::vector<AudioBackendDevice> devices() override;
    std::optional<int> defaultInputDevice() override;
    std::optional<int> defaultOutputDevice() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client, std::string& error) override;
    bool refresh() override;
    void release() override;
    /// Grows when a sound card's device node comes or goes (SoundCardWatch on /dev/snd).
    uint64_t deviceChanges() const override;
    uint64_t lookedAtChanges() const override;
    int openStreamCount() const override;

  private:
    class Stream;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace quenbril
