#include "platform/midi/RtMidiBackend.h"

#include <fcntl.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <vector>

#include "foundation/KeptToProcessEnd.h"
#include "foundation/Log.h"
#include "platform/jack/JackClients.h"
#include "platform/jack/JackNotAnswering.h"
#include "platform/midi/GuardedMidiBackend.h"
#include "platform/midi/JackMidiInput.h"
#include "platform/midi/JackServerWatch.h"

namespace quenbril {
namespace {

RtMidi::Api rtApi(MidiBackend::Api api) {
    return api == MidiBackend::Api::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

// RtMidi reports a missing JACK server as a warning through this callback, not as an exception.
void noteError(RtMidiError::Type type, const std::string& text, void* failed) {
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) {
        static_cast<std::atomic<bool>*>(failed)->store(true);
    }
    if (text.find("JACK server") != std::string::npos ||
        text.find("jack_client_open") != std::string::npos) {
        static_cast<std::atomic<bool>*>(failed)->store(true);
    }
}

// The full JACK name of a port as listed.
std::string jackName(const MidiPortInfo& port) { return port.client + ":" + port.port; }

// Ours among a source's connections: the one port of a client of ours that is new since `before`.
// Empty when there is none, or more than one to tell apart.
std::string newOwnConnection(const std::vector<std::string>& before,
                             const std::vector<std::string>& after) {
    std::string found;
    for (const std::string& name : after) {
        if (std::find(before.begin(), before.end(), name) != before.end()) continue;
        const MidiPortInfo port = RtMidiBackend::parsePortName(name, MidiPortInfo::Direction::Input,
                                                               MidiBackend::Api::Jack);
        if (!RtMidiBackend::isOwnClient(port.client)) continue;
        if (!found.empty()) return {};
        found = name;
    }
    return found;
}

}  // namespace

struct RtMidiBackend::OpenPort {
    // Under ALSA (under JACK RtMidi changes the ports of an active client; see JackMidiInput).
    std::unique_ptr<RtMidiIn> in;
    ByteCallback callback;
    std::atomic<bool> failed{false};
    /// Set when the port's client is let go: its thread may still run, and hands nothing on.
    std::atomic<bool> abandoned{false};
    /// Under JACK: the source's connections before ours was made and its client's id then; the
    /// full name of the port of ours connected to it, once seen among them; the looks for it;
    /// which loss was told.
    std::vector<std::string> before;
    std::optional<std::string> clientId;
    std::string ownPort;
    int looks = 0;
    enum class Told { Nothing, Undone, MadeAgain } told = Told::Nothing;
    /// Under JACK. Last, so that it closes first, while what its thread reads is still there.
    std::unique_ptr<JackMidiInput> jack;

    /// Under JACK, given the source's connections now: whether ours is not (or no longer) among
    /// them. RtMidi neither names its port nor says whether it connected; ours is the one new
    /// connection of a client of ours. The server's graph shows a connection a cycle or more
    /// after it was made: one not seen by the second look since the opening (a poll apart) was
    /// not made.
    bool lostAmong(const std::vector<std::string>& connected) {
        if (ownPort.empty()) {
            ownPort = newOwnConnection(before, connected);
            return ownPort.empty() && ++looks > 1;
        }
        return std::find(connected.begin(), connected.end(), ownPort) == connected.end();
    }

    // Runs on RtMidi's thread (JACK's process thread under JACK): it only hands the bytes on.
    void receive(const uint8_t* bytes, size_t length) {
        if (abandoned.load(std::memory_order_acquire)) return;
        if (length > 0) callback(bytes, length);
    }
    static void received(double, std::vector<unsigned char>* message, void* self) {
        if (message) static_cast<OpenPort*>(self)->receive(message->data(), message->size());
    }
};

// The clients that only list the sequencer's ports, kept while it answers and made again after it
// failed.
struct RtMidiBackend::Probe {
    std::atomic<bool> failed{false};
    std::unique_ptr<RtMidiIn> in;
    std::unique_ptr<RtMidiOut> out;
};

RtMidiBackend::RtMidiBackend(Api api) : api_(api) {
    if (api_ == Api::Jack) {
        JackServerWatch::silenceJack();
    }
}

RtMidiBackend::~RtMidiBackend() {
    std::lock_guard lock(mutex_);
    {
        auto held = jackClientsInUse();
        if (jackWatch_ && !jackWatch_->alive()) {
            abandonOpenPorts();
        }
        for (auto& [port, open] : open_) {
            if (open->in) open->in->closePort();
        }
        open_.clear();
    }
    probe_.reset();
    jackWatch_.reset();
}

std::shared_lock<std::shared_mutex> RtMidiBackend::jackClientsInUse() const {
    return api_ == Api::Jack ? JackClients::inUse() : std::shared_lock<std::shared_mutex>();
}

void RtMidiBackend::abandon(std::unique_ptr<OpenPort> open) {
    // libjack deletes the clients of a dead server when any client of the process next opens
    // (ours, the audio's, a returning server's), so closing one afterwards would free it twice.
    // Its RtMidi object, whose destructor would close it, is never destroyed.
    // The client's process thread may still be inside `received`, which reads the port's record:
    // the record is kept with the client, told to hand nothing more on, for the life of the
    // process (a few kilobytes per port each time a server dies).
    open->abandoned.store(true, std::memory_order_release);
    keepToProcessEnd(std::move(open));
}

void RtMidiBackend::abandonOpenPorts() {
    for (auto& [port, open] : open_) {
        abandon(std::move(open));
    }
    open_.clear();
}

void RtMidiBackend::abandonJackClients() {
    abandonOpenPorts();
    jackWatch_.reset();
}

bool RtMidiBackend::jackServerAnswers() {
    if (jackWatch_ && jackWatch_->alive()) {
        return true;
    }
    if (jackWatch_) {
        // This poll reports the loss even when a new server answers already, so that every
        // device goes and the next poll opens its ports on the new server.
        abandonJackClients();
        return false;
    }
    auto watch = std::make_unique<JackServerWatch>();
    if (!watch->alive()) {
        return false;
    }
    jackWatch_ = std::move(watch);
    return true;
}

bool RtMidiBackend::isOwnClient(const std::string& client) {
    const std::string own = kClientName;
    if (client == own) {
        return true;
    }
    if (client.size() <= own.size() + 1 || client.compare(0, own.size() + 1, own + "-") != 0) {
        return false;
    }
    return std::all_of(client.begin() + static_cast<std::ptrdiff_t>(own.size() + 1), client.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

MidiPortInfo RtMidiBackend::parsePortName(const std::string& name,
                                          MidiPortInfo::Direction direction, Api api) {
    std::string text = name;
    if (api == Api::AlsaSequencer) {
        static const std::regex address(R"( \d+:\d+$)");
        text = std::regex_replace(text, address, "");
    }
    MidiPortInfo port;
    port.direction = direction;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        port.client = text;
        port.port = text;
    } else {
        port.client = text.substr(0, colon);
        port.port = text.substr(colon + 1);
    }
    return port;
}

std::optional<std::vector<MidiPortInfo>> RtMidiBackend::listPorts() {
    std::lock_guard lock(mutex_);
    if (api_ == Api::Jack) {
        return listJackPorts();
    }
    try {
        if (!probe_ || probe_->failed.load()) {
            probe_.reset();
            auto probe = std::make_unique<Probe>();
            probe->in = std::make_unique<RtMidiIn>(rtApi(api_), kClientName);
            probe->in->setErrorCallback(&noteError, &probe->failed);
            probe->out = std::make_unique<RtMidiOut>(rtApi(api_), kClientName);
            probe->out->setErrorCallback(&noteError, &probe->failed);
            probe_ = std::move(probe);
        }
        std::vector<MidiPortInfo> ports;
        const unsigned inputs = probe_->in->getPortCount();
        for (unsigned i = 0; i < inputs; ++i) {
            ports.push_back(
                parsePortName(probe_->in->getPortName(i), MidiPortInfo::Direction::Input, api_));
        }
        const unsigned outputs = probe_->out->getPortCount();
        for (unsigned i = 0; i < outputs; ++i) {
            ports.push_back(
                parsePortName(probe_->out->getPortName(i), MidiPortInfo::Direction::Output, api_));
        }
        if (probe_->failed.load()) {
            return std::nullopt;
        }
        std::erase_if(ports, [](const MidiPortInfo& p) { return isOwnClient(p.client); });
        return ports;
    } catch (const RtMidiError&) {
        probe_.reset();
        return std::nullopt;
    }
}

// The server's own list through the watch: RtMidi's listing clients would be woken in every
// period, and RtMidi asks the server for the whole list again for each port name.
std::optional<std::vector<MidiPortInfo>> RtMidiBackend::listJackPorts() {
    if (!jackServerAnswers()) {
        return std::nullopt;
    }
    std::vector<MidiPortInfo> ports;
    // Ports that send are the sources we read.
    for (const std::string& name : jackWatch_->midiPorts(true)) {
        ports.push_back(parsePortName(name, MidiPortInfo::Direction::Input, api_));
    }
    for (const std::string& name : jackWatch_->midiPorts(false)) {
        ports.push_back(parsePortName(name, MidiPortInfo::Direction::Output, api_));
    }
    // A dead server's list stays as it was.
    if (!jackWatch_->alive()) {
        return std::nullopt;
    }
    std::erase_if(ports, [](const MidiPortInfo& p) { return isOwnClient(p.client); });
    return ports;
}

bool RtMidiBackend::openInput(const MidiPortInfo& port, ByteCallback callback) {
    std::lock_guard lock(mutex_);
    if (port.direction != MidiPortInfo::Direction::Input || open_.count(port)) {
        return false;
    }
    const auto before = jackConnections(port);
    auto open = connectInput(port, std::move(callback));
    if (!open) {
        return false;
    }
    open->before = before.value_or(std::vector<std::string>{});
    open->clientId = jackClientId(port);
    open_[port] = std::move(open);
    return true;
}

std::unique_ptr<RtMidiBackend::OpenPort> RtMidiBackend::connectInput(const MidiPortInfo& port,
                                                                     ByteCallback callback) {
    auto open = std::make_unique<OpenPort>();
    open->callback = std::move(callback);
    if (api_ == Api::Jack) {
        // The new client opens only on the server the watch (and so every open port) is on: the
        // opening first marks the watch gone if its server went away. A port that went since it
        // was listed may be made again before the next poll, which lists the same: the input is
        // kept unconnected, and that poll finds it lost.
        auto opening = JackClients::opening();
        if (!(jackWatch_ && jackWatch_->alive())) {
            return nullptr;
        }
        OpenPort* self = open.get();
        open->jack = JackMidiInput::open(
            kClientName, jackName(port),
            [self](const uint8_t* bytes, size_t length) { self->receive(bytes, length); });
        return open->jack ? std::move(open) : nullptr;
    }
    try {
        open->in = std::make_unique<RtMidiIn>(rtApi(api_), kClientName);
        open->in->setErrorCallback(&noteError, &open->failed);
        // SysEx, timing and active sensing stay filtered out.
        open->in->ignoreTypes(true, true, true);
        const unsigned count = open->in->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            if (parsePortName(open->in->getPortName(i), port.direction, api_) == port) {
                open->in->setCallback(&OpenPort::received, open.get());
                open->in->openPort(i, "in");
                return open->failed.load() ? nullptr : std::move(open);
            }
        }
    } catch (const RtMidiError& error) {
        log(LogLevel::Warning, "MIDI: cannot open %s:%s: %s", port.client.c_str(),
            port.port.c_str(), error.getMessage().c_str());
    }
    return nullptr;
}

std::optional<std::vector<std::string>> RtMidiBackend::jackConnections(
    const MidiPortInfo& port) const {
    if (api_ != Api::Jack || !jackWatch_) {
        return std::nullopt;
    }
    return jackWatch_->connections(jackName(port));
}

std::optional<std::string> RtMidiBackend::jackClientId(const MidiPortInfo& port) const {
    if (api_ != Api::Jack || !jackWatch_) {
        return std::nullopt;
    }
    return jackWatch_->clientId(port.client);
}

std::vector<MidiInputLoss> RtMidiBackend::lostInputs() {
    std::lock_guard lock(mutex_);
    std::vector<MidiInputLoss> lost;
    std::vector<OpenPort*> losing;
    for (auto& [port, open] : open_) {
        if (open->told == OpenPort::Told::MadeAgain) {
            continue;
        }
        // A port that is not there is the list's to tell. One made again under its name comes
        // without our connection: JACK undid it with the old port. A connection undone by
        // another program leaves the port with its client: told by the client's id, since
        // JACK gives a port made again the number of the one that went.
        const auto connected = jackConnections(port);
        if (!connected) {
            continue;
        }
        if (open->told == OpenPort::Told::Nothing && !open->lostAmong(*connected)) {
            continue;
        }
        const auto clientId = jackClientId(port);
        const bool undone = clientId && clientId == open->clientId;
        if (undone && open->told == OpenPort::Told::Undone) {
            continue;
        }
        lost.push_back({port, undone});
        losing.push_back(open.get());
    }
    // A server that went away meanwhile is the next list's to tell.
    if (!(jackWatch_ && jackWatch_->alive())) {
        return {};
    }
    for (size_t i = 0; i < losing.size(); ++i) {
        losing[i]->told = lost[i].undone ? OpenPort::Told::Undone : OpenPort::Told::MadeAgain;
    }
    return lost;
}

void RtMidiBackend::closeInput(const MidiPortInfo& port) {
    std::lock_guard lock(mutex_);
    auto found = open_.find(port);
    if (found == open_.end()) {
        return;
    }
    auto held = jackClientsInUse();
    if (jackWatch_ && !jackWatch_->alive()) {
        // A port of a server that went away: its process thread may be inside `received` still.
        abandon(std::move(found->second));
        open_.erase(found);
        return;
    }
    // Closing stops RtMidi's thread (under JACK, the process thread), so the callback is not
    // called afterwards.
    if (found->second->in) found->second->in->closePort();
    open_.erase(found);
}

namespace {

bool alsaSequencerOpens(const char* device) {
    const int fd = ::open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

std::function<std::unique_ptr<MidiBackend>()>& installedMaker() {
    static std::function<std::unique_ptr<MidiBackend>()> maker;
    return maker;
}

}  // namespace

void setSystemMidiBackendMaker(std::function<std::unique_ptr<MidiBackend>()> maker) {
    installedMaker() = std::move(maker);
}

std::unique_ptr<MidiBackend> makeSystemMidiBackend(const char* sequencer) {
    if (installedMaker()) return installedMaker()();
    if (alsaSequencerOpens(sequencer)) {
        QLOG("MIDI: using the ALSA sequencer");
        return std::make_unique<RtMidiBackend>(MidiBackend::Api::AlsaSequencer);
    }
    // Asked off this thread: libjack may never return.
    auto jack = std::make_unique<GuardedMidiBackend>(
        MidiBackend::Api::Jack, sharedJackWorker(),
        [] { return std::make_unique<RtMidiBackend>(MidiBackend::Api::Jack); });
    // Kept whatever the first look finds: its polls cost a look for the server's socket while
    // none runs, and its devices come with a server however late it starts.
    if (jack->listPorts()) {
        QLOG("MIDI: using JACK MIDI");
    } else if (jack->isStuck()) {
        QLOG("MIDI: JACK MIDI is used once the JACK library answers");
    } else {
        QLOG(
            "MIDI: neither the ALSA sequencer nor a JACK server is available; JACK MIDI is used "
            "once a JACK server runs");
    }
    return jack;
}

}  // namespace quenbril
