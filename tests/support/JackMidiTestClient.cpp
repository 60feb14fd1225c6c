#include "tests/support/JackMidiTestClient.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>

namespace quenbril::test {

JackMidiTestClient::JackMidiTestClient(const std::string& name, int outputs, int inputs,
                                       size_t stamps)
    : name_(name), stamps_(stamps) {
    jack_status_t status{};
    client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client_) return;
    name_ = jack_get_client_name(client_);
    for (int k = 0; k < outputs; ++k) {
        outputs_.push_back(jack_port_register(client_, ("out_" + std::to_string(k + 1)).c_str(),
                                              JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0));
    }
    for (int k = 0; k < inputs; ++k) {
        inputs_.push_back(jack_port_register(client_, ("in_" + std::to_string(k + 1)).c_str(),
                                             JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0));
    }
    jack_set_process_callback(client_, &JackMidiTestClient::process, this);
    jack_on_shutdown(client_, &JackMidiTestClient::shutdown, this);
    jack_set_xrun_callback(client_, &JackMidiTestClient::xrun, this);
    if (jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackMidiTestClient::~JackMidiTestClient() {
    if (client_ && !serverGone_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

bool JackMidiTestClient::send(int k, const std::vector<uint8_t>& bytes) {
    if (!client_ || bytes.empty() || bytes.size() > 3) return false;
    const size_t queued = queued_.load(std::memory_order_relaxed);
    if (queued - taken_.load(std::memory_order_acquire) >= kQueueSize) return false;
    Queued& message = queue_[queued % kQueueSize];
    message.port = static_cast<uint8_t>(k);
    message.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), message.bytes);
    queued_.store(queued + 1, std::memory_order_release);
    return true;
}

int JackMidiTestClient::process(jack_nframes_t frames, void* context) {
    auto* self = static_cast<JackMidiTestClient*>(context);
    for (jack_port_t* port : self->outputs_) {
        jack_midi_clear_buffer(jack_port_get_buffer(port, frames));
    }
    const size_t queued = self->queued_.load(std::memory_order_acquire);
    for (size_t taken = self->taken_.load(std::memory_order_relaxed); taken < queued; ++taken) {
        const Queued message = self->queue_[taken % kQueueSize];
        self->taken_.store(taken + 1, std::memory_order_release);
        if (message.port >= self->outputs_.size()) continue;
        void* buffer = jack_port_get_buffer(self->outputs_[message.port], frames);
        if (jack_midi_event_write(buffer, 0, message.bytes, message.length) != 0) continue;
        const size_t index = self->written_.load(std::memory_order_relaxed);
        if (index < self->stamps_.size()) self->stamps_[index] = Clock::now();
        self->written_.store(index + 1, std::memory_order_release);
    }
    return 0;
}

int JackMidiTestClient::xrun(void* context) {
    auto* self = static_cast<JackMidiTestClient*>(context);
    const size_t index = self->xruns_.load();
    if (index < kMaxXrunTimes) self->xrunTimes_[index] = Clock::now();
    self->xruns_.store(index + 1);
    return 0;
}

void JackMidiTestClient::shutdown(void* context) {
    static_cast<JackMidiTestClient*>(context)->serverGone_ = true;
}

}  // namespace quenbril::test
