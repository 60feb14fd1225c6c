#include "platform/audio/AudioBackend.h"

#include <atomic>

#include "platform/audio/PortAudioBackend.h"

namespace quenbril {

namespace {

std::atomic<AudioBackend*> installed{nullptr};

}  // namespace

AudioBackend& AudioBackend::shared() {
    if (AudioBackend* backend = installed.load()) return *backend;
    // Made on first use and kept to the end of the process: streams may outlive static objects.
    static auto* portAudio = new PortAudioBackend();
    return *portAudio;
}

void AudioBackend::setShared(AudioBackend* backend) { installed.store(backend); }

}  // namespace quenbril
