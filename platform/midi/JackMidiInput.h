#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;
typedef unsigned int jack_nframes_t;

namespace quenbril {

/// One JACK MIDI input: a client of its own with one port, connected to a source, that hands each
/// message the source sends (SysEx, time code, clock and active sensing left out) to a callback
/// on JACK's process thread. Its port is made before the client is activated and the client is
/// deactivated before it closes: while a client is active, libjack's notification thread walks
/// its port list without a lock whenever the server's graph changes (a client opening or closing,
/// a connection made or undone), so a port added to or taken from an active client (as RtMidi
/// does) can free an entry under that walk and crash the process.
class JackMidiInput {
  public:
    /// Opens a client named `clientName` (JACK may add "-01" and so on) and connects its port
    /// "in" to `source` (a full port name); an input that could not connect is kept, unconnected.
    /// Null when no server answers. Called under JackClients::opening().
    static std::unique_ptr<JackMidiInput> open(const char* clientName, const std::string& source,
                                               MidiBackend::ByteCallback callback);
    /// Deactivates and closes the client. The owner of one whose server it knows went away never
    /// destroys it (libjack frees such clients itself); one whose server stopped answering before
    /// the owner heard of it is let go, not closed, and its callback is called no more. Called
    /// under JackClients::inUse().
    ~JackMidiInput();
    JackMidiInput(const JackMidiInput&) = delete;
    JackMidiInput& operator=(const JackMidiInput&) = delete;

  private:
    struct Reader;
    explicit JackMidiInput(MidiBackend::ByteCallback callback);
    static int process(jack_nframes_t frames, void* reader);

    jack_client_t* client_ = nullptr;
    // What the process thread reaches, which may outlive the input.
    std::unique_ptr<Reader> reader_;
};

}  // namespace quenbril
