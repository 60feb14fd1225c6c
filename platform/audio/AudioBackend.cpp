#include "platform/audio/AudioBackend.h"

#include <atomic>

#include "platform/audio/GuardedAudioBackend.h"
#include "platform/audio/JackAudioBackend.h"
#include "platform/audio/PortAudioBackend.h"
#include "platform/audio/SystemAudioBackend.h"
#include "platform/jack/JackNotAnswering.h"

namespace quenbril {

namespace {

std::atomic<AudioBackend*> installed{nullptr};

}  // namespace

AudioBackend& AudioBackend::shared() {
    if (AudioBackend* backend = installed.load()) return *backend;
    // Made on first use and kept to the end of the process: streams may outlive static objects.
    // It is made and asked off the caller's thread, since libjack may never return (PortAudio's
    // start opens a JACK client too).
    static auto* system = new GuardedAudioBackend(sharedJackWorker(), [] {
        return std::make_unique<SystemAudioBackend>(std::make_unique<JackAudioBackend>(),
                                                    std::make_unique<PortAudioBackend>());
    });
    return *system;
}

void AudioBackend::setShared(AudioBackend* backend) { installed.store(backend); }

}  // namespace quenbril
