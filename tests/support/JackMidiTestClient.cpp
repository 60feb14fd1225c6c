#include "tests/support/JackMidiTestClient.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>

#include "foundation/KeptToProcessEnd.h"
#include "platform/jack/JackClients.h"

namespace quenbril::test {

JackMidiTestClient::JackMidiTestClient(const std::string& name, int outputs, int inputs,
                                       size_t stamps)
    : name_(name) {
    state_->stamps.resize(stamps);
    jack_status_t status{};
    client_ = JackClients::open(name.c_str(), &status);
    if (!client_) return;
    auto held = JackClients::inUse();
    JackClients::track(client_, state_->serverGone);
    name_ = jack_get_client_name(client_);
    for (int k = 0; k < outputs; ++k) {
        state_->outputs.push_back(jack_port_register(client_,
                                                     ("out_" + std::to_string(k + 1)).c_str(),
                                                     JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0));
    }
    for (int k = 0; k < inputs; ++k) {
        inputs_.push_back(jack_port_register(client_, ("in_" + std::to_string(k + 1)).c_str(),
                                             JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0));
    }
    jack_set_process_callback(client_, &JackMidiTestClient::process, state_.get());
    jack_on_shutdown(client_, &JackMidiTestClient::shutdown, state_.get());
    jack_set_xrun_callback(client_, &JackMidiTestClient::xrun, state_.get());
    roster_.attach(client_);
    if (jack_activate(client_) != 0) {
        JackClients::forget(client_);
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackMidiTestClient::~JackMidiTestClient() {
    if (!client_) return;
    auto held = JackClients::inUse();
    JackClients::forget(client_);
    if (state_->serverGone.load()) {
        // The server died mid-cycle, maybe: the process thread may still be finishing it, and
        // libjack keeps the callbacks' context until it frees the client. Kept to the end of
        // the process.
        keepToProcessEnd(std::move(state_));
        roster_.outliveClient();
        return;
    }
    roster_.settle(client_);
    // Deactivating stops the process thread before the state it reads goes.
    JackClients::close(client_, state_.get());
}

bool JackMidiTestClient::send(int k, const std::vector<uint8_t>& bytes) {
    if (!client_ || bytes.empty() || bytes.size() > 3) return false;
    State& state = *state_;
    const size_t queued = state.queued.load(std::memory_order_relaxed);
    if (queued - state.taken.load(std::memory_order_acquire) >= kQueueSize) return false;
    Queued& message = state.queue[queued % kQueueSize];
    message.port = static_cast<uint8_t>(k);
    message.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), message.bytes);
    state.queued.store(queued + 1, std::memory_order_release);
    return true;
}

int JackMidiTestClient::process(jack_nframes_t frames, void* context) {
    State& state = *static_cast<State*>(context);
    for (jack_port_t* port : state.outputs) {
        jack_midi_clear_buffer(jack_port_get_buffer(port, frames));
    }
    const size_t queued = state.queued.load(std::memory_order_acquire);
    for (size_t taken = state.taken.load(std::memory_order_relaxed); taken < queued; ++taken) {
        const Queued message = state.queue[taken % kQueueSize];
        state.taken.store(taken + 1, std::memory_order_release);
        if (message.port >= state.outputs.size()) continue;
        void* buffer = jack_port_get_buffer(state.outputs[message.port], frames);
        if (jack_midi_event_write(buffer, 0, message.bytes, message.length) != 0) continue;
        const size_t index = state.written.load(std::memory_order_relaxed);
        if (index < state.stamps.size()) state.stamps[index] = Clock::now();
        state.written.store(index + 1, std::memory_order_release);
    }
    return 0;
}

int JackMidiTestClient::xrun(void* context) {
    State& state = *static_cast<State*>(context);
    const size_t index = state.xruns.load();
    if (index < kMaxXrunTimes) state.xrunTimes[index] = Clock::now();
    state.xruns.store(index + 1);
    return 0;
}

void JackMidiTestClient::shutdown(void* context) {
    static_cast<State*>(context)->serverGone = true;
}

}  // namespace quenbril::test
