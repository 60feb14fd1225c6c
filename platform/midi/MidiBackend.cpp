#include "platform/midi/MidiBackend.h"

namespace quenbril {

const char* MidiBackend::apiName(Api api) {
    switch (api) {
        case Api::Memory:
            return "memory";
        case Api::AlsaSequencer:
            return "ALSA sequencer";
        case Api::Jack:
            return "JACK";
    }
    return "unknown";
}

}  // namespace quenbril
