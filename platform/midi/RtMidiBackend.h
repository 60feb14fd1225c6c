#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/midi/MidiBackend.h"

namespace quenbril {

class JackServerWatch;

/// The ALSA sequencer or JACK MIDI through RtMidi, one API per backend.
class RtMidiBackend : public MidiBackend {
  public:
    /// `api` is AlsaSequencer or Jack.
    explicit RtMidiBackend(Api api);
    ~RtMidiBackend() override;

    Api api() const override { return api_; }
    std::optional<std::vector<MidiPortInfo>> listPorts() override;
    bool openInput(const MidiPortInfo& port, ByteCallback callback) override;
    void closeInput(const MidiPortInfo& port) override;
    /// Under JACK: the open inputs whose port is no longer connected to the port of ours made
    /// for it. Under ALSA: none.
    std::vector<MidiInputLoss> lostInputs() override;

    /// Splits a port name as RtMidi gives it ("client:port", with " 20:0" after it under ALSA).
    static MidiPortInfo parsePortName(const std::string& name, MidiPortInfo::Direction direction,
                                      Api api);
    /// The client name our own ports carry; they are left out of the lists.
    static constexpr const char* kClientName = "Quenbril";
    /// Ours: JACK makes a second client of one name unique as "Quenbril-01" and so on.
    static bool isOwnClient(const std::string& client);

  private:
    struct OpenPort;
    /// The RtMidi clients that list the ALSA sequencer's ports.
    struct Probe;

    /// Under JACK: true while the server answers; false on the first call after it went away,
    /// then true again once a server answers.
    bool jackServerAnswers();
    std::optional<std::vector<MidiPortInfo>> listJackPorts();
    /// Makes the client of an input (RtMidi's; under JACK our own) and connects it to `port`;
    /// null when it cannot.
    std::unique_ptr<OpenPort> connectInput(const MidiPortInfo& port, ByteCallback callback);
    /// Under JACK, the connections of `port`; none when it is not there, and under ALSA.
    std::optional<std::vector<std::string>> jackConnections(const MidiPortInfo& port) const;
    /// Under JACK, the id of `port`'s client; none when it is not there, and under ALSA.
    std::optional<std::string> jackClientId(const MidiPortInfo& port) const;
    /// Lets go of an open port's JACK client of a server that went away without closing it; the
    /// client and the record its process thread reads are kept to the end of the process.
    static void abandon(std::unique_ptr<OpenPort> open);
    /// Lets go of every JACK client of a server that went away without closing it: the open
    /// ports' alone, or theirs and the watch's.
    void abandonOpenPorts();
    void abandonJackClients();
    /// Held under JACK while an open port's client is used or closed (see JackClients).
    std::shared_lock<std::shared_mutex> jackClientsInUse() const;

    Api api_;
    std::mutex mutex_;
    std::unique_ptr<JackServerWatch> jackWatch_;
    std::unique_ptr<Probe> probe_;
    std::map<MidiPortInfo, std::unique_ptr<OpenPort>> open_;
};

/// The MIDI system of this machine: the ALSA sequencer when its device (`sequencer`) opens, else
/// JACK MIDI, whose devices come once a JACK server runs. Only one API is used, so that a
/// controller both show (as under PipeWire) does not fire every event twice.
std::unique_ptr<MidiBackend> makeSystemMidiBackend(const char* sequencer = "/dev/snd/seq");
/// Tests: makeSystemMidiBackend() returns what `maker` makes instead (an empty one goes back to
/// the machine's).
void setSystemMidiBackendMaker(std::function<std::unique_ptr<MidiBackend>()> maker);

}  // namespace quenbril
