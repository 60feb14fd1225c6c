#include "platform/midi/JackMidiInput.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include "foundation/CallbackGate.h"
#include "platform/jack/JackClients.h"
#include "platform/jack/JackServerPresence.h"

namespace quenbril {

JackMidiInput::JackMidiInput(MidiBackend::ByteCallback callback) : callback_(std::move(callback)) {}

std::unique_ptr<JackMidiInput> JackMidiInput::open(const char* clientName,
                                                   const std::string& source,
                                                   MidiBackend::ByteCallback callback) {
    std::unique_ptr<JackMidiInput> input(new JackMidiInput(std::move(callback)));
    jack_status_t status{};
    input->client_ = JackServerPresence::open(clientName, &status);
    if (!input->client_) return nullptr;
    input->port_ =
        jack_port_register(input->client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!input->port_ || jack_set_process_callback(input->client_, &process, input.get()) != 0 ||
        JackClients::activate(input->client_) != 0) {
        jack_client_close(input->client_);
        input->client_ = nullptr;
        return nullptr;
    }
    jack_connect(input->client_, source.c_str(), jack_port_name(input->port_));
    return input;
}

JackMidiInput::~JackMidiInput() {
    if (client_) JackClients::close(client_);
}

// JACK's process thread, which libjack cancels at once when the client stops: the messages are
// handed on with its cancel put off, so that it never dies inside the receiver, holding a lock.
int JackMidiInput::process(jack_nframes_t frames, void* self) {
    withCancelPutOff([&] { static_cast<JackMidiInput*>(self)->handOn(frames); });
    return 0;
}

void JackMidiInput::handOn(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(port_, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
        const uint8_t status = event.buffer[0];
        if (inSysEx_ || status == 0xF0) {
            inSysEx_ = event.buffer[event.size - 1] != 0xF7;
            continue;
        }
        if (status == 0xF1 || status == 0xF8 || status == 0xFE) continue;
        callback_(event.buffer, event.size);
    }
}

}  // namespace quenbril
