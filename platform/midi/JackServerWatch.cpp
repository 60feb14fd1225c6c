#include "platform/midi/JackServerWatch.h"

#include <jack/jack.h>

#include <utility>

#include "foundation/KeptToProcessEnd.h"
#include "platform/jack/JackClients.h"
#include "platform/jack/JackServerPresence.h"
#include "platform/midi/RtMidiBackend.h"

namespace quenbril {
namespace {

void ignoreJackMessage(const char*) {}

// Copies a list libjack made and frees it.
std::vector<std::string> takeNames(const char** list) {
    std::vector<std::string> names;
    for (const char** name = list; name && *name; ++name) {
        names.emplace_back(*name);
    }
    if (list) {
        jack_free(list);
    }
    return names;
}

}  // namespace

void JackServerWatch::silenceJack() {
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
}

JackServerWatch::JackServerWatch() {
    // The poll's usual answer while no server runs, found without the opening lock.
    if (!JackServerPresence::worthAnOpen()) {
        return;
    }
    jack_status_t status{};
    auto held = JackClients::opening();
    client_ = JackServerPresence::open(RtMidiBackend::kClientName, &status);
    if (!client_) {
        return;
    }
    // Told of the server's end; with no process callback it costs the server no cycles.
    jack_on_shutdown(client_, &JackServerWatch::shutdown, gone_.get());
    JackClients::track(client_, *gone_);
    // Active, so that the opens after it wait for it to read the departures before them. One
    // the server did not start is closed in this hold: inactive, it still takes in the
    // departures of our clients that close, unheard by the arrival gate, and only here can none
    // of them close first.
    if (JackClients::activate(client_) != 0) {
        letGo();
    }
}

JackServerWatch::~JackServerWatch() {
    if (!client_) {
        return;
    }
    auto held = JackClients::inUse();
    letGo();
}

void JackServerWatch::letGo() {
    jack_client_t* client = std::exchange(client_, nullptr);
    if (JackClients::forgetAndClose(client, nullptr)) return;
    // Marked gone by another open, or its server no longer answers, maybe before libjack's
    // thread told us: it may tell us yet.
    keepToProcessEnd(std::move(gone_));
}

std::vector<std::string> JackServerWatch::midiPorts(bool outputs) const {
    auto held = JackClients::inUse();
    if (!client_ || gone_->load()) {
        return {};
    }
    return takeNames(jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                    outputs ? JackPortIsOutput : JackPortIsInput));
}

std::optional<std::vector<std::string>> JackServerWatch::connections(
    const std::string& port) const {
    auto held = JackClients::inUse();
    if (!client_ || gone_->load()) {
        return std::nullopt;
    }
    jack_port_t* found = jack_port_by_name(client_, port.c_str());
    if (!found) {
        return std::nullopt;
    }
    return takeNames(jack_port_get_all_connections(client_, found));
}

std::optional<std::string> JackServerWatch::clientId(const std::string& client) const {
    auto held = JackClients::inUse();
    if (!client_ || gone_->load()) {
        return std::nullopt;
    }
    char* id = jack_get_uuid_for_client_name(client_, client.c_str());
    if (!id) {
        return std::nullopt;
    }
    std::string kept = id;
    jack_free(id);
    return kept;
}

// Runs on libjack's thread when the server's socket closes.
void JackServerWatch::shutdown(void* gone) { static_cast<std::atomic<bool>*>(gone)->store(true); }

}  // namespace quenbril
