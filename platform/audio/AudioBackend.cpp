#include "platform/audio/AudioBackend.h"

#include <atomic>

#include "platform/audio/JackAudioBackend.h"
#include "platform/audio/PortAudioBackend.h"
#include "platform/audio/SystemAudioBackend.h"

namespace quenbril {

namespace {

std::atomic<AudioBackend*> installed{nullptr};

}  // namespace

AudioBackend& AudioBackend::shared() {
    if (AudioBackend* backend = installed.load()) return *backend;
    // Made on first use and kept to the end of the process: streams may outlive static objects.
    static auto* system = new SystemAudioBackend(std::make_unique<JackAudioBackend>(),
                                                 std::make_unique<PortAudioBackend>());
    return *system;
}

void AudioBackend::setShared(AudioBackend* backend) { installed.store(backend); }

}  // namespace quenbril
