#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// The machine's audio as one backend: the devices of a running JACK server first, then those
/// PortAudio finds (ALSA). While a JACK server runs, its first devices are the defaults, since
/// the hardware it drives is usually not free for ALSA clients. A device's joint index is its
/// member's base plus the member's own index, so that one member's new list moves no device of
/// another: a JACK server that comes back is found while an ALSA stream plays, and the ALSA
/// device keeps its index. A refresh fails only where a member whose devices may have changed
/// could not look: one that keeps its list for an open stream, with nothing changed, has it right.
class SystemAudioBackend : public AudioBackend {
  public:
    SystemAudioBackend(std::unique_ptr<AudioBackend> jack, std::unique_ptr<AudioBackend> others);

    std::vector<AudioBackendDevice> devices() override;
    std::optional<int> defaultInputDevice() override;
    std::optional<int> defaultOutputDevice() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client, std::string& error) override;
    bool refresh() override;
    void release() override;
    uint64_t deviceChanges() const override;
    uint64_t lookedAtChanges() const override;
    int openStreamCount() const override;
    std::string absence() override;

  private:
    /// Where a joint index leads: the member backend and its own index.
    struct Route {
        AudioBackend* backend;
        int index;
    };
    static constexpr int kMemberStride = 1 << 16;

    void join();
    std::optional<int> jointIndex(AudioBackend& backend, std::optional<int> index) const;

    std::vector<std::unique_ptr<AudioBackend>> members_;
    // Each member's change count at its last look.
    std::vector<uint64_t> lookedAt_;
    mutable std::mutex mutex_;
    std::vector<AudioBackendDevice> devices_;
    std::vector<Route> routes_;  // in joint order, beside devices_
};

}  // namespace quenbril
