#include "platform/midi/JackMidiInput.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include "foundation/CallbackGate.h"
#include "foundation/KeptToProcessEnd.h"
#include "platform/jack/JackClients.h"
#include "platform/jack/JackServerPresence.h"

namespace quenbril {

struct JackMidiInput::Reader {
    MidiBackend::ByteCallback callback;
    jack_port_t* port = nullptr;
    // Closed when the input lets its client go: a cycle may be finishing then.
    CallbackGate cycles;
    // The process thread's: inside a SysEx message that began in an earlier event.
    bool inSysEx = false;

    void handOn(jack_nframes_t frames);
};

JackMidiInput::JackMidiInput(MidiBackend::ByteCallback callback)
    : reader_(std::make_unique<Reader>()) {
    reader_->callback = std::move(callback);
}

std::unique_ptr<JackMidiInput> JackMidiInput::open(const char* clientName,
                                                   const std::string& source,
                                                   MidiBackend::ByteCallback callback) {
    std::unique_ptr<JackMidiInput> input(new JackMidiInput(std::move(callback)));
    jack_status_t status{};
    input->client_ = JackServerPresence::open(clientName, &status);
    if (!input->client_) return nullptr;
    jack_port_t* port =
        jack_port_register(input->client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    input->reader_->port = port;
    if (!port || jack_set_process_callback(input->client_, &process, input->reader_.get()) != 0 ||
        JackClients::activate(input->client_) != 0) {
        // The activation may have failed because the server died: then the client is let go
        // as the destructor lets go of one.
        return nullptr;
    }
    jack_connect(input->client_, source.c_str(), jack_port_name(port));
    return input;
}

// A client whose server stopped answering is let go, as the owner does with one it knows is gone:
// its thread may yet finish a cycle or tell of the server's end, so what it reaches lives on,
// and the callback, which reaches the owner, is called no more.
JackMidiInput::~JackMidiInput() {
    if (!client_ || JackClients::closeUnlessGone(client_, nullptr)) return;
    reader_->cycles.close();
    keepToProcessEnd(std::move(reader_));
}

// JACK's process thread, which libjack cancels at once when the client stops: the messages are
// handed on through the gate, with its cancel put off, so that it never dies inside the
// receiver, holding a lock.
int JackMidiInput::process(jack_nframes_t frames, void* context) {
    auto* reader = static_cast<Reader*>(context);
    reader->cycles.pass([&] { reader->handOn(frames); });
    return 0;
}

void JackMidiInput::Reader::handOn(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(port, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
        const uint8_t status = event.buffer[0];
        if (inSysEx || status == 0xF0) {
            inSysEx = event.buffer[event.size - 1] != 0xF7;
            continue;
        }
        if (status == 0xF1 || status == 0xF8 || status == 0xFE) continue;
        callback(event.buffer, event.size);
    }
}

}  // namespace quenbril
